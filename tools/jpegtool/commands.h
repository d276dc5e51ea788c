// commands.h - the jpegtool commands. Each takes the arguments after its
// name, returns the exit status, and throws ToolError on failure.
#ifndef JPEGTOOL_COMMANDS_H
#define JPEGTOOL_COMMANDS_H

#include <string>
#include <vector>

namespace jpegtool {

using Args = std::vector<std::string>;

int RunEncode(const Args& args);
int RunDecode(const Args& args);
int RunThumb(const Args& args);
int RunRecompress(const Args& args);
int RunOptimize(const Args& args);

// decode --partial on a damaged file: what could be decoded was written.
constexpr int kExitDamaged = 2;
int RunA85Encode(const Args& args);
int RunA85Decode(const Args& args);
int RunInfo(const Args& args);
int RunDemo(const Args& args);

// Help texts (help_text.cpp).
const char* ToolUsage();
const char* CommandHelp(const std::string& command);  // null for an unknown command
void PrintCommandHelp(const std::string& command);

}  // namespace jpegtool

#endif
