// tool_runner.cpp - posix_spawn-based runner for the jpegtool binary.
#include "tool_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tool_test {
namespace {

void RemoveTree(const std::string& path) {
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string child = path + "/" + name;
      if (entry->d_type == DT_DIR)
        RemoveTree(child);
      else
        unlink(child.c_str());
    }
    closedir(dir);
  }
  rmdir(path.c_str());
}

}  // namespace

std::vector<std::string> ToolResult::ErrLines() const {
  std::vector<std::string> lines;
  std::istringstream stream(err);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

ToolResult RunTool(const std::vector<std::string>& args) {
  TempDir capture;
  const std::string outPath = capture.File("stdout"), errPath = capture.File("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> all{JPEGTOOL_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid;
  const int spawned = posix_spawn(&pid, JPEGTOOL_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " JPEGTOOL_PATH);
  int wait = 0;
  waitpid(pid, &wait, 0);
  ToolResult result;
  result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  result.out = ReadText(outPath);
  result.err = ReadText(errPath);
  return result;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/jpegtool-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() { RemoveTree(path_); }

std::vector<std::string> TempDir::Entries() const {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path_.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Testdata(const std::string& name) { return std::string(JPEG_TESTDATA_DIR) + "/" + name; }

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
}

}  // namespace tool_test
