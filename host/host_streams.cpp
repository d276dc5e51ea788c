// host_streams.cpp - the two concrete byte streams of the host framework: a
// stream over a real file (TFileStream, over the open files of
// file_replacement.cpp, which write a file beside the one they replace) and
// a stream over bytes in memory (TMemoryStream).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "host/file_replacement.h"
#include "host_framework.h"

namespace {

constexpr int32_t kMaxLength = std::numeric_limits<int32_t>::max();

HostOpenFile* OpenOf(void* f) { return static_cast<HostOpenFile*>(f); }

// The length of an open file, or -1 when it cannot be told or does not fit
// a 32-bit count.
long FileLength(std::FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  long length = std::ftell(f);
  if (std::fseek(f, 0, SEEK_SET) != 0) return -1;
  return length > kMaxLength ? -1 : length;
}

}  // namespace

// --- TFileStream -------------------------------------------------------------------

// Freed with no Close(): the file written is put in place unless a write
// failed (errors are not raised from here).
TFileStream::~TFileStream() {
  HostOpenFile* f = OpenOf(fFile);
  fFile = nullptr;
  if (f == nullptr) return;
  if (f->failure != kHostNoError) {
    AbandonHostFile(f);
    return;
  }
  TryBlock block;
  block.Try([&] { FinishHostFile(f); });
  block.Catch(1);
}

void TFileStream::IFileStream(TFile* file, int16_t mode) {
  if (file == nullptr || (mode != kReadMode && mode != kWriteMode) || fFile != nullptr)
    Failure(kHostParamError, 0);
  HostOpenFile* f = mode == kReadMode ? OpenHostFileForReading(file->Path()) : OpenHostFileForWriting(file->Path());
  long length = mode == kReadMode ? FileLength(f->file) : 0;
  if (length < 0) {
    AbandonHostFile(f);
    Failure(kHostIOError, 0);
  }
  fFile = f;
  fMode = mode;
  fPosition = 0;
  fLength = static_cast<int32_t>(length);
}

void TFileStream::Close() {
  HostOpenFile* f = OpenOf(fFile);
  fFile = nullptr;
  if (f != nullptr) FinishHostFile(f);
}

void TFileStream::Abandon() {
  HostOpenFile* f = OpenOf(fFile);
  fFile = nullptr;
  if (f != nullptr) AbandonHostFile(f);
}

int32_t TFileStream::GetPosition() { return fPosition; }
int32_t TFileStream::GetLength() { return fLength; }

void TFileStream::GetBytes(int32_t count, void* buffer) {
  if (fFile == nullptr || fMode != kReadMode || count < 0) Failure(kHostParamError, 0);
  if (count > fLength - fPosition) Failure(kHostEndOfFile, 0);
  std::FILE* f = OpenOf(fFile)->file;
  size_t got = std::fread(buffer, 1, static_cast<size_t>(count), f);
  fPosition += static_cast<int32_t>(got);
  if (got != static_cast<size_t>(count)) Failure(std::ferror(f) ? kHostIOError : kHostEndOfFile, 0);
}

void TFileStream::PutBytes(int32_t count, const void* buffer) {
  if (fFile == nullptr || fMode != kWriteMode || count < 0) Failure(kHostParamError, 0);
  if (count > kMaxLength - fPosition) Failure(kHostIOError, 0);
  HostOpenFile* open = OpenOf(fFile);
  errno = 0;
  size_t put = std::fwrite(buffer, 1, static_cast<size_t>(count), open->file);
  // Flushing every write makes the operating system's answer (a full disk,
  // an I/O error) this call's answer, not a surprise at close.
  bool flushed = std::fflush(open->file) == 0;
  fPosition += static_cast<int32_t>(put);
  if (fPosition > fLength) fLength = fPosition;
  if (put != static_cast<size_t>(count) || !flushed) {
    const int16_t failure = HostErrorForErrno(errno);
    if (open->failure == kHostNoError) open->failure = failure;
    Failure(failure, 0);
  }
}

// --- TMemoryStream -----------------------------------------------------------------

void TMemoryStream::SetPosition(int32_t position) {
  if (position < 0 || position > GetLength()) Failure(kHostParamError, 0);
  fPosition = position;
}

int32_t TMemoryStream::GetPosition() { return fPosition; }

int32_t TMemoryStream::GetLength() {
  return fContents.size() > static_cast<size_t>(kMaxLength) ? kMaxLength
                                                            : static_cast<int32_t>(fContents.size());
}

void TMemoryStream::GetBytes(int32_t count, void* buffer) {
  if (count < 0) Failure(kHostParamError, 0);
  if (count > GetLength() - fPosition) Failure(kHostEndOfFile, 0);
  if (count > 0) std::memcpy(buffer, fContents.data() + fPosition, static_cast<size_t>(count));
  fPosition += count;
}

void TMemoryStream::PutBytes(int32_t count, const void* buffer) {
  if (count < 0) Failure(kHostParamError, 0);
  if (count > kMaxLength - fPosition) Failure(kHostNoMemory, 0);
  size_t end = static_cast<size_t>(fPosition) + static_cast<size_t>(count);
  if (end > fContents.size()) {
    try {
      fContents.resize(end);
    } catch (const std::bad_alloc&) {
      Failure(kHostNoMemory, 0);
    }
  }
  if (count > 0) std::memcpy(fContents.data() + fPosition, buffer, static_cast<size_t>(count));
  fPosition += count;
}
