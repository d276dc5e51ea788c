// file_io.cpp - reading whole inputs and writing outputs safely (see
// file_io.h for which outputs are replaced and which are written through).
#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "byte_reader.h"
#include "tool_error.h"

namespace jpegtool {
namespace {

// Output buffer: few write() calls for an image of any size.
constexpr size_t kOutputBufferBytes = 64 * 1024;
constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kPermissionBits = 07777;
constexpr int kMostLinks = 40;  // dangling links followed before giving up

std::string SystemReason() { return std::strerror(errno); }

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where a file that is not there yet would be created: dangling links
// followed, the directory resolved to its real path.
std::string PlaceOf(std::string path) {
  for (int hop = 0; hop < kMostLinks; ++hop) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    std::vector<char> target(PATH_MAX);
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size()) break;
    const std::string next(target.data(), static_cast<size_t>(length));
    path = next[0] == '/' ? next : DirectoryOf(path) + "/" + next;
  }
  char* directory = realpath(DirectoryOf(path).c_str(), nullptr);
  const std::string place = directory != nullptr ? std::string(directory) + "/" + BaseOf(path) : path;
  std::free(directory);
  return place;
}

// What tells two files apart: device and inode of an existing regular file,
// the place of an output not there yet. Anything else is not compared.
struct FileKey {
  bool compared = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string place;
  bool operator==(const FileKey& other) const {
    return compared && other.compared && device == other.device && inode == other.inode && place == other.place;
  }
};

FileKey KeyOf(const std::string& path, bool isOutput) {
  FileKey key;
  if (path == "-") return key;
  struct stat info;
  if (stat(path.c_str(), &info) == 0) {
    key.compared = S_ISREG(info.st_mode);
    key.device = info.st_dev;
    key.inode = info.st_ino;
  } else if (isOutput && errno == ELOOP) {
    Fail("cannot write " + path + ": " + SystemReason());
  } else if (isOutput && errno == ENOENT) {
    key.compared = true;
    key.place = PlaceOf(path);
  }
  return key;
}

// The mode a newly created file would get: 0666 less the process umask.
mode_t DefaultFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Why the user may not write the existing file at path (following links),
// as an errno value; 0 when they may.
int WriteRefusal(const std::string& path) {
  if (access(path.c_str(), W_OK) != 0) return errno == ENOENT ? 0 : errno;  // a dangling link makes a new file
  struct stat target;
  if (geteuid() == 0 && stat(path.c_str(), &target) == 0 && S_ISREG(target.st_mode)) {
    return (target.st_mode & kAnyWriteBit) != 0 ? 0 : EACCES;
  }
  return 0;
}

}  // namespace

Bytes ReadWholeFile(const std::string& path) {
  ByteReader reader(path);
  Bytes bytes;
  while (const size_t available = reader.Available()) {
    const size_t at = bytes.size();
    bytes.resize(at + available);
    reader.Read(bytes.data() + at, available);
  }
  reader.CheckError();
  return bytes;
}

OutputFile::OutputFile(const std::string& path) : name_(path), buffer_(kOutputBufferBytes) {
  if (path == "-") {
    name_ = "standard output";
    fd_ = STDOUT_FILENO;
    standardOutput_ = true;
    return;
  }
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) {
    OpenTemporary(path, DefaultFileMode());
    return;
  }
  if (S_ISDIR(info.st_mode)) Fail("cannot write " + path + ": it is a directory");
  if (const int refusal = WriteRefusal(path)) Fail("cannot write " + path + ": " + std::strerror(refusal));
  if (S_ISREG(info.st_mode)) {
    OpenTemporary(path, info.st_mode & kPermissionBits);
  } else {
    OpenInPlace(path);
  }
}

OutputFile::~OutputFile() {
  if (ownsFd_ && fd_ >= 0) close(fd_);
  if (!temporaryPath_.empty() && !committed_) unlink(temporaryPath_.c_str());
}

void OutputFile::OpenInPlace(const std::string& path) {
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, DefaultFileMode());
  if (fd_ < 0) Fail("cannot write " + path + ": " + SystemReason());
  ownsFd_ = true;
  struct stat target;
  truncateOnFirstWrite_ = fstat(fd_, &target) == 0 && S_ISREG(target.st_mode);
}

void OutputFile::OpenTemporary(const std::string& path, mode_t mode) {
  std::string pattern = DirectoryOf(path) + "/.jpegtool-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = mkstemp(name.data());
  if (fd_ < 0) Fail("cannot create a file beside " + path + ": " + SystemReason());
  ownsFd_ = true;
  temporaryPath_ = name.data();
  fchmod(fd_, mode);
}

void OutputFile::FailWrite(int error) {
  writeErrno_ = error;
  writeError_ = "cannot write " + name_ + ": " + std::strerror(error);
  Fail(writeError_);
}

void OutputFile::WriteOut(const uint8_t* data, size_t size) {
  if (truncateOnFirstWrite_) {
    truncateOnFirstWrite_ = false;
    if (ftruncate(fd_, 0) != 0) FailWrite(errno);
  }
  while (size > 0) {
    const ssize_t wrote = write(fd_, data, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) FailWrite(wrote < 0 ? errno : EIO);
    data += wrote;
    size -= static_cast<size_t>(wrote);
  }
}

void OutputFile::Write(const void* data, size_t size) {
  if (finished_) Fail("cannot write " + name_ + ": already closed");
  if (!writeError_.empty()) Fail(writeError_);
  if (size == 0) return;  // data may be null then
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (buffered_ + size > buffer_.size()) {
    WriteOut(buffer_.data(), buffered_);
    buffered_ = 0;
    if (size >= buffer_.size()) return WriteOut(bytes, size);
  }
  std::memcpy(buffer_.data() + buffered_, bytes, size);
  buffered_ += size;
}

void OutputFile::Finish() {
  if (finished_) return;
  if (!writeError_.empty()) Fail(writeError_);
  if (buffered_ > 0 || truncateOnFirstWrite_) WriteOut(buffer_.data(), buffered_);
  buffered_ = 0;
  finished_ = true;
  if (ownsFd_) {
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) FailWrite(errno);
  }
}

void OutputFile::Commit() {
  Finish();
  if (!temporaryPath_.empty() && !committed_ && std::rename(temporaryPath_.c_str(), name_.c_str()) != 0) {
    Fail("cannot write " + name_ + ": " + SystemReason());
  }
  committed_ = true;
}

void CheckOutputsApart(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
  std::vector<FileKey> inputKeys, outputKeys;
  for (const std::string& input : inputs) inputKeys.push_back(KeyOf(input, false));
  for (size_t i = 0; i < outputs.size(); ++i) {
    outputKeys.push_back(KeyOf(outputs[i], true));
    const std::string refusal = "refusing to write " + outputs[i];
    for (size_t j = 0; j < inputs.size(); ++j) {
      if (outputKeys[i] == inputKeys[j]) FailUsage(refusal + ": it is the same file as the input " + inputs[j]);
    }
    for (size_t j = 0; j < i; ++j) {
      if (!(outputKeys[i] == outputKeys[j])) continue;
      FailUsage(outputs[i] == outputs[j] ? refusal + " twice: both outputs name it"
                                         : refusal + ": it is the same file as the other output " + outputs[j]);
    }
  }
}

void CommitAll(const std::vector<OutputFile*>& outputs) {
  for (OutputFile* output : outputs) output->Finish();
  for (OutputFile* output : outputs) output->Commit();
}

void WriteWholeFile(const std::string& path, const void* data, size_t size) {
  OutputFile output(path);
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
