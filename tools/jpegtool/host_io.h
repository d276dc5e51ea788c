// host_io.h - a host stream (TStream) over the tool's own input, so the host
// JPEG read stream reads from a file or a pipe alike. (Encoding runs the
// filters on a Stm over the output instead: filter_encode.cpp.)
//
// ReaderStream answers a length of "what is buffered now" at position 0 and
// so never needs the size of its input (standard input has none). It
// raises host failure codes, as host streams must; the reader keeps the
// tool's own message for the failure line.
#ifndef JPEGTOOL_HOST_IO_H
#define JPEGTOOL_HOST_IO_H

#include "byte_reader.h"
#include "host_framework.h"

namespace jpegtool {

class ReaderStream : public TStream {
 public:
  explicit ReaderStream(ByteReader* input) : input_(input) {}
  int32_t GetPosition() override { return 0; }
  int32_t GetLength() override;
  void GetBytes(int32_t count, void* buffer) override;

 private:
  ByteReader* input_;
};

}  // namespace jpegtool

#endif
