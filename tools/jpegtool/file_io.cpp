// file_io.cpp - reading input files and writing outputs through a
// temporary file that is renamed into place on success.
#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tool_error.h"

namespace jpegtool {
namespace {

std::string SystemReason() { return std::strerror(errno); }

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The mode a newly created file would get: 0666 less the process umask.
mode_t DefaultFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

Bytes ReadWholeFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) Fail("cannot open " + path + ": " + SystemReason());
  Bytes bytes;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  const bool failed = std::ferror(file) != 0;
  const std::string reason = SystemReason();
  std::fclose(file);
  if (failed) Fail("cannot read " + path + ": " + reason);
  return bytes;
}

void CheckReadableFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) Fail("cannot open " + path + ": " + SystemReason());
  struct stat info;
  const bool directory = fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
  std::fclose(file);
  if (directory) Fail("cannot read " + path + ": " + std::strerror(EISDIR));
}

AtomicOutput::AtomicOutput(const std::string& destination) : destination_(destination) {
  struct stat info;
  if (stat(destination.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    Fail("cannot write " + destination + ": it is a directory");
  }
  std::string pattern = DirectoryOf(destination) + "/.jpegtool-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) Fail("cannot create a file beside " + destination + ": " + SystemReason());
  temporaryPath_ = name.data();
  fchmod(fd, DefaultFileMode());
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    close(fd);
    unlink(temporaryPath_.c_str());
    Fail("cannot write " + temporaryPath_ + ": " + SystemReason());
  }
}

AtomicOutput::~AtomicOutput() {
  if (file_ != nullptr) std::fclose(file_);
  if (!committed_) unlink(temporaryPath_.c_str());
}

void AtomicOutput::Write(const void* data, size_t size) {
  if (file_ == nullptr || std::fwrite(data, 1, size, file_) != size) {
    Fail("cannot write " + destination_ + ": " + SystemReason());
  }
}

void AtomicOutput::CloseFile() {
  if (file_ == nullptr) return;
  const bool failed = std::ferror(file_) != 0;
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (failed || closed != 0) Fail("cannot write " + destination_ + ": " + SystemReason());
}

void AtomicOutput::Commit() {
  CloseFile();
  if (std::rename(temporaryPath_.c_str(), destination_.c_str()) != 0) {
    Fail("cannot write " + destination_ + ": " + SystemReason());
  }
  committed_ = true;
}

void WriteWholeFile(const std::string& path, const void* data, size_t size) {
  AtomicOutput output(path);
  output.Write(data, size);
  output.Commit();
}

void MakeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
      Fail("cannot create directory " + prefix + ": " + SystemReason());
    }
    if (slash == std::string::npos) break;
  }
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    Fail("cannot create directory " + path + ": not a directory");
  }
}

}  // namespace jpegtool
