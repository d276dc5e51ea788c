// cli.cpp - option and positional-argument parsing for the commands.
#include "cli.h"

#include <cerrno>
#include <cstdlib>

#include "tool_error.h"

namespace jpegtool {
namespace {

const OptionSpec* FindOption(const CommandSpec& spec, const std::string& name) {
  for (const OptionSpec& option : spec.options) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

std::string SeeHelp(const CommandSpec& spec) {
  return " (see 'jpegtool " + std::string(spec.name) + " --help')";
}

// Handles one "--name" or "--name=value" argument; may consume the next one.
void TakeOption(const CommandSpec& spec, const std::vector<std::string>& args, size_t* index,
                ParsedArgs* parsed) {
  const std::string& arg = args[*index];
  const size_t equals = arg.find('=');
  const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
  if (name == "help") {
    parsed->help = true;
    return;
  }
  if (name == "quiet") {
    parsed->quiet = true;
    return;
  }
  const OptionSpec* option = FindOption(spec, name);
  if (option == nullptr) FailUsage("unknown option --" + name + " for " + spec.name + SeeHelp(spec));
  if (!option->takesValue) {
    if (equals != std::string::npos) FailUsage("option --" + name + " takes no value");
    parsed->options[name] = "";
    return;
  }
  if (equals != std::string::npos) {
    parsed->options[name] = arg.substr(equals + 1);
  } else if (*index + 1 < args.size()) {
    parsed->options[name] = args[++*index];
  } else {
    FailUsage("option --" + name + " needs a value" + SeeHelp(spec));
  }
}

void CheckPositionalCount(const CommandSpec& spec, const ParsedArgs& parsed) {
  const int count = static_cast<int>(parsed.positionals.size());
  if (count < spec.minPositionals) FailUsage(std::string(spec.name) + ": missing arguments" + SeeHelp(spec));
  if (count > spec.maxPositionals) {
    FailUsage(std::string(spec.name) + ": unexpected argument '" + parsed.positionals[spec.maxPositionals] +
              "'" + SeeHelp(spec));
  }
}

}  // namespace

ParsedArgs ParseCommandLine(const CommandSpec& spec, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg == "-h") {
      parsed.help = true;
    } else if (!optionsEnded && arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      TakeOption(spec, args, &i, &parsed);
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      FailUsage("unknown option " + arg + " for " + spec.name + SeeHelp(spec));
    } else {
      parsed.positionals.push_back(arg);
    }
  }
  if (!parsed.help) CheckPositionalCount(spec, parsed);
  return parsed;
}

int ParseIntInRange(const std::string& text, int low, int high, const std::string& what) {
  const std::string range =
      " (expected a whole number from " + std::to_string(low) + " to " + std::to_string(high) + ")";
  if (text.empty()) FailUsage(what + ": missing number" + range);
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0') FailUsage(what + ": '" + text + "' is not a number" + range);
  if (errno == ERANGE || value < low || value > high) {
    FailUsage(what + ": " + text + " is out of range" + range);
  }
  return static_cast<int>(value);
}

}  // namespace jpegtool
