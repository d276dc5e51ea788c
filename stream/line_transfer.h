// line_transfer.h - whole raster lines straight from a writer's memory into
// a filter whose buffer is one line, past the copy into that buffer.
//
// StmFWrite hands a run of bytes to the procedure registered for the
// stream's buffer procedure before it copies into the buffer; the procedure
// takes as many whole lines as it can use in place and returns how many
// bytes it took (0: none, the copy goes on as usual). It must leave the
// stream as if the bytes had gone through the buffer. The JPEG encode
// filter registers its procedure when it opens; the table has one slot,
// read and written atomically, so filters may open on any thread.
#ifndef JPEG_STREAM_LINE_TRANSFER_H
#define JPEG_STREAM_LINE_TRANSFER_H

#include <cstdint>

#include "stm.h"

typedef uint64_t (*StmLineWriteProc)(Stm* s, const uint8_t* src, uint64_t bytes);

void StmRegisterLineWrite(StmFlsBufProc flsBuf, StmLineWriteProc proc);

// Bytes of src the stream's registered procedure took in place; 0 when it
// has none.
uint64_t StmWriteLinesInPlace(Stm* s, const uint8_t* src, uint64_t bytes);

#endif
