// host_io.h - host streams (TStream) over the tool's own input and output,
// so the host JPEG streams read from a pipe and write to a device, a FIFO or
// a temporary file alike.
//
// ReaderStream answers a length of "what is buffered now" at position 0 and
// so never needs the size of its input (standard input has none). Both
// raise host failure codes, as host streams must, and keep the tool's own
// message for the failure line.
#ifndef JPEGTOOL_HOST_IO_H
#define JPEGTOOL_HOST_IO_H

#include "byte_reader.h"
#include "file_io.h"
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

class OutputStream : public TStream {
 public:
  explicit OutputStream(OutputFile* output) : output_(output) {}
  int32_t GetPosition() override { return 0; }
  int32_t GetLength() override { return 0; }
  void PutBytes(int32_t count, const void* buffer) override;

 private:
  OutputFile* output_;
};

}  // namespace jpegtool

#endif
