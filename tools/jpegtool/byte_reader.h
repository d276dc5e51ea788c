// byte_reader.h - buffered input for every command: a named file, standard
// input ("-"), or bytes already in memory (the fuzz targets, the built-in
// photograph). Reads never throw: a read error ends the input like end of
// file and is kept, and CheckError() turns it into the failure line, so the
// readers built on this one (PNM, the host source stream) can tell a
// truncated file from a failing disk.
#ifndef JPEGTOOL_BYTE_READER_H
#define JPEGTOOL_BYTE_READER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jpegtool {

class ByteReader {
 public:
  // Opens path ("-": standard input); a ToolError names the file and the
  // system's reason (a directory is refused here too).
  explicit ByteReader(const std::string& path);
  // Reads size bytes at data, which must outlive the reader.
  ByteReader(const uint8_t* data, size_t size, const std::string& name);
  ~ByteReader();
  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;

  const std::string& Name() const { return name_; }

  // The next byte, or -1 at the end of the input.
  int Get() { return next_ < end_ || Refill() ? *next_++ : -1; }
  int Peek() { return next_ < end_ || Refill() ? *next_ : -1; }
  // Copies up to count bytes; fewer only at the end of the input.
  size_t Read(void* out, size_t count);
  // The next count bytes where they lie in the buffer, taken; nullptr, and
  // nothing taken, when they do not fit it or the input ends first (Read
  // then copies what there is).
  const uint8_t* Borrow(size_t count);
  // Bytes that can be taken without waiting (refilling when none are
  // buffered); 0 only at the end of the input.
  size_t Available() { return next_ < end_ || Refill() ? static_cast<size_t>(end_ - next_) : 0; }
  // Fails with "cannot read NAME: reason" when a read failed.
  void CheckError() const;
  // The first bytes of the input (up to 256 KiB), kept as they pass by.
  const std::vector<uint8_t>& Head() const { return head_; }

 private:
  bool Refill();
  size_t ReadInto(uint8_t* at, size_t room);  // one read(), 0 at the end or on an error
  void KeepHead(const uint8_t* data, size_t count);

  std::string name_;
  int fd_ = -1;
  bool ownsFd_ = false;
  std::vector<uint8_t> buffer_;
  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
  int readErrno_ = 0;
  std::vector<uint8_t> head_;
};

}  // namespace jpegtool

#endif
