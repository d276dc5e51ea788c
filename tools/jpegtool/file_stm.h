// file_stm.h - Stm streams over the tool's reader and output, the bottom of
// the filter stacks the a85encode and a85decode commands build. A source stores the 0xFF
// guard byte after every refill, as every compressed-data source must.
#ifndef JPEGTOOL_FILE_STM_H
#define JPEGTOOL_FILE_STM_H

#include "byte_reader.h"
#include "file_io.h"
#include "stm.h"

namespace jpegtool {

constexpr uint16_t kFileStmBufferSize = 8192;

struct FileStm {
  Stm stm;
  ByteReader* input;    // of a source
  OutputFile* output;  // of a sink
  uint8_t buffer[kFileStmBufferSize + 1];  // + the guard byte of a source
};

// A source reading input from where it stands.
void InitFileSource(FileStm* source, ByteReader* input);
// A sink writing to output; FinishFileSink writes what is still buffered.
void InitFileSink(FileStm* sink, OutputFile* output);
// false when any write failed.
bool FinishFileSink(FileStm* sink);

}  // namespace jpegtool

#endif
