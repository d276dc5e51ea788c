// file_stm.cpp - the buffer procedures of the file-backed streams. They
// follow the Stm contract (stm.h): a refill returns the first byte and counts
// the rest, ending with the installed StmRefillWithGuard (stm_owner.h); a
// flush empties the buffer and takes the byte that did not fit.
#include "file_stm.h"

#include <cstring>
#include <exception>

#include "stm_owner.h"

namespace jpegtool {
namespace {

int16_t FileFilBuf(Stm* s) {
  FileStm* source = static_cast<FileStm*>(s->procData);
  if (s->eof || s->error) return -1;
  const size_t got = source->input->Read(s->base, s->bufSize);
  // Nothing read sets eof, after a read error too: the command asks the
  // reader afterwards.
  return StmRefillWithGuard(s, got);
}

bool WriteBuffered(Stm* s) {
  FileStm* sink = static_cast<FileStm*>(s->procData);
  const size_t pending = static_cast<size_t>(s->ptr - s->base);
  bool written = true;
  try {
    sink->output->Write(s->base, pending);
  } catch (const std::exception&) {
    written = false;  // the output keeps the reason
  }
  s->ptr = s->base;
  s->count = static_cast<int16_t>(s->bufSize);
  if (!written) s->error = 1;
  return written;
}

// The end of a flush, the buffer emptied: it takes c as its first byte, or
// c = -1 marks the end of the data (eof set, count 0). Returns c.
int16_t StartNextBuffer(int16_t c, Stm* s) {
  if (c == -1) {
    s->eof = 1;
    s->count = 0;
    return -1;
  }
  s->count--;
  *s->ptr++ = static_cast<uint8_t>(c);
  return c;
}

int16_t FileFlsBuf(int16_t c, Stm* s) {
  if (s->error || s->eof) return -1;
  if (!WriteBuffered(s)) {
    s->count = 0;
    return -1;
  }
  return StartNextBuffer(c, s);
}

void InitCommon(FileStm* f) {
  std::memset(&f->stm, 0, sizeof f->stm);
  f->input = nullptr;
  f->output = nullptr;
  f->stm.procData = f;
  f->stm.bufSize = kFileStmBufferSize;
  f->stm.ptr = f->stm.base = f->buffer;
}

}  // namespace

void InitFileSource(FileStm* source, ByteReader* input) {
  InitCommon(source);
  source->input = input;
  source->stm.count = 0;
  source->stm.filBuf = FileFilBuf;
  source->stm.flsBuf = StmRefuseFlush;
}

void InitFileSink(FileStm* sink, OutputFile* output) {
  InitCommon(sink);
  sink->output = output;
  sink->stm.count = static_cast<int16_t>(kFileStmBufferSize);
  sink->stm.flsBuf = FileFlsBuf;
  sink->stm.filBuf = StmRefuseFill;
}

bool FinishFileSink(FileStm* sink) {
  if (sink->stm.error) return false;
  return WriteBuffered(&sink->stm);
}

}  // namespace jpegtool
