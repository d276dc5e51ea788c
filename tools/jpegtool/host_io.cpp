// host_io.cpp - the host stream adapter over ByteReader.
#include "host_io.h"

#include <climits>

namespace jpegtool {

int32_t ReaderStream::GetLength() {
  const size_t available = input_->Available();
  return available > INT32_MAX ? INT32_MAX : static_cast<int32_t>(available);
}

void ReaderStream::GetBytes(int32_t count, void* buffer) {
  if (count < 0) Failure(kHostParamError, 0);
  if (input_->Read(buffer, static_cast<size_t>(count)) != static_cast<size_t>(count)) {
    Failure(kHostEndOfFile, 0);
  }
}

}  // namespace jpegtool
