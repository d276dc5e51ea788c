// host_framework.cpp - the root object, failures, the TryBlock, the reader and
// writer streams layered over another stream, large handles and the memory
// procedure table (declared in include/host_framework.h). File and memory
// streams live in host_streams.cpp.
#include "host_framework.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "host/host_internal.h"

// --- failures ------------------------------------------------------------------

void Failure(int16_t error, int32_t message) { throw HostFailure{error, message}; }

void FailNIL(const void* p) {
  if (p == nullptr) Failure(kHostNoMemory, 0);
}

void FailOSErr(int16_t err) {
  if (err != kHostNoError) Failure(err, 0);
}

HostFailure CurrentHostFailure() {
  HostFailure failure{kHostIOError, 0};
  try {
    throw;
  } catch (const HostFailure& f) {
    failure = f;
  } catch (const std::bad_alloc&) {
    failure.error = kHostNoMemory;
  } catch (...) {
    failure.error = kHostIOError;
  }
  // A failure must never read as success in the code fields that hold it.
  if (failure.error == kHostNoError) failure.error = kHostIOError;
  return failure;
}

void TryBlock::Record(const HostFailure& failure) noexcept {
  fFailure = failure;
  fFailed = true;
}

void TryBlock::End() {
  if (fFailed && !fHandled) throw fFailure;
}

// --- objects -------------------------------------------------------------------

namespace {

#ifdef JPEG_TEST_HOOKS
// Allocations still allowed before one is refused (a test hook, built into
// the test archive only); -1 = no limit. Per thread: a test refuses the
// allocations of the thread it runs on.
thread_local int gObjectAllocationsLeft = -1;
thread_local int gHandleAllocationsLeft = -1;

// Counts an allocation against *left; false when this one is to be refused.
bool AllocationAllowed(int* left) {
  if (*left == 0) {
    *left = -1;
    return false;
  }
  if (*left > 0) --*left;
  return true;
}

bool ObjectAllocationAllowed() { return AllocationAllowed(&gObjectAllocationsLeft); }
bool HandleAllocationAllowed() { return AllocationAllowed(&gHandleAllocationsLeft); }
#else
// The shipped library refuses no allocation of its own accord.
constexpr bool ObjectAllocationAllowed() { return true; }
constexpr bool HandleAllocationAllowed() { return true; }
#endif

}  // namespace

#ifdef JPEG_TEST_HOOKS
void HostRefuseObjectAllocationAfter(int allowed) { gObjectAllocationsLeft = allowed; }
void HostRefuseHandleAllocationAfter(int allowed) { gHandleAllocationsLeft = allowed; }
#endif

void* TObject::operator new(std::size_t size) noexcept {
  return ObjectAllocationAllowed() ? std::malloc(size) : nullptr;
}

void TObject::operator delete(void* p) noexcept { std::free(p); }

TObject::~TObject() = default;

void TObject::DoUpdate() {}

int32_t TObject::GetStandardSignature() {
  return 0x3F3F3F3F;  // '????': no particular kind
}

TObject* TObject::Clone() { Failure(kHostUnimplemented, 0); }

void TObject::Free() { delete this; }

void FreeIfObject(TObject* obj) {
  if (obj != nullptr) obj->Free();
}

// --- streams -------------------------------------------------------------------

int32_t TStream::GetPosition() { return 0; }
int32_t TStream::GetLength() { return 0; }
void TStream::GetBytes(int32_t, void*) { Failure(kHostIOError, 0); }
void TStream::PutBytes(int32_t, const void*) { Failure(kHostIOError, 0); }

TReadStream::~TReadStream() {
  if (fOwnsSource) FreeIfObject(fSource);
}

void TReadStream::IReadStream(TStream* source) {
  if (source == nullptr) Failure(kHostParamError, 0);
  fSource = source;
}

int32_t TReadStream::GetPosition() { return fSource ? fSource->GetPosition() : 0; }
int32_t TReadStream::GetLength() { return fSource ? fSource->GetLength() : 0; }

void TReadStream::GetBytes(int32_t count, void* buffer) {
  if (fSource == nullptr) Failure(kHostParamError, 0);
  fSource->GetBytes(count, buffer);
}

TWriteStream::~TWriteStream() {
  if (fOwnsTarget) FreeIfObject(fTarget);
}

void TWriteStream::IWriteStream(TStream* target, int32_t bufferSize) {
  if (target == nullptr) Failure(kHostParamError, 0);
  fTarget = target;
  fBufferSize = bufferSize;
}

int32_t TWriteStream::GetPosition() { return fTarget ? fTarget->GetPosition() : 0; }
int32_t TWriteStream::GetLength() { return fTarget ? fTarget->GetLength() : 0; }

void TWriteStream::PutBytes(int32_t count, const void* buffer) {
  if (fTarget == nullptr) Failure(kHostParamError, 0);
  fTarget->PutBytes(count, buffer);
}

// --- large handles ---------------------------------------------------------------

namespace {

// What a LargeHandle points into: the handle is the address of `bytes`, the
// first member, so the block is found again from the handle.
struct LargeHandleBlock {
  uint8_t* bytes;
  int32_t size;
};

LargeHandleBlock* BlockOf(LargeHandle h) { return reinterpret_cast<LargeHandleBlock*>(h); }

// malloc(0) may answer null; every block gets at least one byte.
size_t StorageSize(int32_t size) { return size > 0 ? static_cast<size_t>(size) : 1; }

}  // namespace

LargeHandle NewLargeHandle(int32_t size) {
  if (size < 0) Failure(kHostParamError, 0);
  if (!HandleAllocationAllowed()) Failure(kHostNoMemory, 0);
  auto* block = static_cast<LargeHandleBlock*>(std::malloc(sizeof(LargeHandleBlock)));
  if (block == nullptr) Failure(kHostNoMemory, 0);
  block->bytes = static_cast<uint8_t*>(std::malloc(StorageSize(size)));
  if (block->bytes == nullptr) {
    std::free(block);
    Failure(kHostNoMemory, 0);
  }
  block->size = size;
  return &block->bytes;
}

void ResizeLargeHandle(LargeHandle h, int32_t newSize) {
  if (h == nullptr || newSize < 0) Failure(kHostParamError, 0);
  if (!HandleAllocationAllowed()) Failure(kHostNoMemory, 0);
  LargeHandleBlock* block = BlockOf(h);
  void* bytes = std::realloc(block->bytes, StorageSize(newSize));
  if (bytes == nullptr) Failure(kHostNoMemory, 0);
  block->bytes = static_cast<uint8_t*>(bytes);
  block->size = newSize;
}

void FreeLargeHandle(LargeHandle h) {
  if (h == nullptr) return;
  LargeHandleBlock* block = BlockOf(h);
  std::free(block->bytes);
  std::free(block);
}

int32_t GetHandleSize(LargeHandle h) { return h ? BlockOf(h)->size : 0; }

// --- memory procedures -------------------------------------------------------------

namespace {

void* MemoryAllocate(int32_t size) { return size < 0 ? nullptr : std::malloc(StorageSize(size)); }

void MemoryBlockMove(const void* source, void* destination, int32_t count) {
  if (count > 0) std::memmove(destination, source, static_cast<size_t>(count));
}

void MemoryRelease(void* block) { std::free(block); }

}  // namespace

const BNMemoryProcs BNMemory = {MemoryAllocate, MemoryBlockMove, MemoryRelease};
