// cli.h - the command-line parser shared by every jpegtool command.
//
// A command declares the options it takes (name, whether a value follows)
// and how many positional arguments it wants; ParseCommandLine checks the
// arguments against that and hands back what it found. Options may come
// anywhere ("--quality 5", "--quality=5"); "--" ends them. --help and
// --quiet are known to every command.
#ifndef JPEGTOOL_CLI_H
#define JPEGTOOL_CLI_H

#include <map>
#include <string>
#include <vector>

namespace jpegtool {

struct OptionSpec {
  const char* name;  // without the leading "--"
  bool takesValue;
};

struct CommandSpec {
  const char* name;
  std::vector<OptionSpec> options;
  int minPositionals;
  int maxPositionals;
};

struct ParsedArgs {
  std::map<std::string, std::string> options;  // name -> value ("" for flags)
  std::vector<std::string> positionals;
  bool help = false;
  bool quiet = false;

  bool Has(const std::string& name) const { return options.count(name) != 0; }
  const std::string& Value(const std::string& name) const { return options.at(name); }
};

// Throws a usage ToolError for an unknown option, a missing value or a wrong
// number of positionals (not when --help was given).
ParsedArgs ParseCommandLine(const CommandSpec& spec, const std::vector<std::string>& args);

// Parses a whole decimal integer in [low, high]; what names the value in the
// message ("--quality").
int ParseIntInRange(const std::string& text, int low, int high, const std::string& what);

}  // namespace jpegtool

#endif
