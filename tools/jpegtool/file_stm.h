// file_stm.h - Stm streams over stdio files, the bottom of the filter stacks
// the a85encode and a85decode commands build. A source stores the 0xFF
// guard byte after every refill, as every compressed-data source must.
#ifndef JPEGTOOL_FILE_STM_H
#define JPEGTOOL_FILE_STM_H

#include <cstdio>

#include "stm.h"

namespace jpegtool {

constexpr uint16_t kFileStmBufferSize = 8192;

struct FileStm {
  Stm stm;
  FILE* file;
  uint8_t buffer[kFileStmBufferSize + 1];  // + the guard byte of a source
};

// A source reading file from its current position.
void InitFileSource(FileStm* source, FILE* file);
// A sink writing to file; FinishFileSink writes what is still buffered.
void InitFileSink(FileStm* sink, FILE* file);
// false when any write failed.
bool FinishFileSink(FileStm* sink);

}  // namespace jpegtool

#endif
