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

// Large enough that a read() call is rare next to the work done per byte,
// small enough to stay in the core's second-level cache beside the codec's
// strips: the kernel's copy into a buffer that has left the cache ran at a
// third of the speed (256 KB took a third of an encode's time, 64 KB a tenth).
constexpr size_t kBufferBytes = 64 * 1024;
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

size_t ByteReader::ReadInto(uint8_t* at, size_t room) {
  if (fd_ < 0 || readErrno_ != 0) return 0;
  for (;;) {
    const ssize_t got = read(fd_, at, room);
    if (got > 0) {
      KeepHead(at, static_cast<size_t>(got));
      return static_cast<size_t>(got);
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) readErrno_ = errno;
    return 0;
  }
}

bool ByteReader::Refill() {
  const size_t got = ReadInto(buffer_.data(), buffer_.size());
  if (got == 0) return false;
  next_ = buffer_.data();
  end_ = next_ + got;
  return true;
}

const uint8_t* ByteReader::Borrow(size_t count) {
  if (static_cast<size_t>(end_ - next_) < count) {
    if (count > buffer_.size()) return nullptr;
    const size_t kept = static_cast<size_t>(end_ - next_);
    std::memmove(buffer_.data(), next_, kept);
    next_ = buffer_.data();
    end_ = next_ + kept;
    while (static_cast<size_t>(end_ - next_) < count) {
      const size_t got = ReadInto(buffer_.data() + (end_ - next_), buffer_.size() - (end_ - next_));
      if (got == 0) return nullptr;
      end_ += got;
    }
  }
  const uint8_t* taken = next_;
  next_ += count;
  return taken;
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
