// byte_reader.cpp - the buffered reader over a file descriptor or memory.
#include "byte_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tool_error.h"

namespace jpegtool {
namespace {

// Large enough that a read() call is rare next to the work done per byte.
constexpr size_t kBufferBytes = 256 * 1024;
// Enough for the header segments the decode command looks at again (the
// failure hint, the JFIF densities) even after large application segments.
constexpr size_t kHeadBytes = 256 * 1024;

}  // namespace

ByteReader::ByteReader(const std::string& path) : name_(path) {
  if (path == "-") {
    fd_ = STDIN_FILENO;
    name_ = "standard input";
  } else {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) Fail("cannot open " + path + ": " + std::strerror(errno));
    ownsFd_ = true;
  }
  struct stat info;
  if (fstat(fd_, &info) == 0 && S_ISDIR(info.st_mode)) {
    if (ownsFd_) close(fd_);
    Fail("cannot read " + path + ": " + std::strerror(EISDIR));
  }
  buffer_.resize(kBufferBytes);
  next_ = end_ = buffer_.data();
}

ByteReader::ByteReader(const uint8_t* data, size_t size, const std::string& name)
    : name_(name), next_(data), end_(data + size) {
  KeepHead(data, size);
}

ByteReader::~ByteReader() {
  if (ownsFd_) close(fd_);
}

void ByteReader::KeepHead(const uint8_t* data, size_t count) {
  if (head_.size() >= kHeadBytes) return;
  head_.insert(head_.end(), data, data + std::min(count, kHeadBytes - head_.size()));
}

bool ByteReader::Refill() {
  if (fd_ < 0 || readErrno_ != 0) return false;
  for (;;) {
    const ssize_t got = read(fd_, buffer_.data(), buffer_.size());
    if (got > 0) {
      next_ = buffer_.data();
      end_ = next_ + got;
      KeepHead(next_, static_cast<size_t>(got));
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) readErrno_ = errno;
    return false;
  }
}

size_t ByteReader::Read(void* out, size_t count) {
  uint8_t* to = static_cast<uint8_t*>(out);
  size_t done = 0;
  while (done < count) {
    if (next_ == end_ && !Refill()) break;
    const size_t take = std::min(count - done, static_cast<size_t>(end_ - next_));
    std::memcpy(to + done, next_, take);
    next_ += take;
    done += take;
  }
  return done;
}

void ByteReader::CheckError() const {
  if (readErrno_ != 0) Fail("cannot read " + name_ + ": " + std::strerror(readErrno_));
}

}  // namespace jpegtool
