// host_framework.h - the small object framework the host stream classes are
// built on: a root object, byte streams (file, memory, and reader/writer
// streams layered over another stream), failure raising and catching,
// relocatable byte blocks ("large handles") and the host's memory procedures.
//
// It is a platform layer, not a second product: just the operations the JPEG
// stream classes (jpeg_stream.h) and their hosts need.
//
// Failures are C++ exceptions of type HostFailure. They are used only above
// the codec: the JPEG stream classes catch them in their bottom Stm
// procedures and in the user-segment hook, so none ever unwinds through the
// codec, and raise them again once the codec has returned.
//
// Failure codes (HostFailure::error):
//    -4  kHostUnimplemented  the operation is not supported by this object
//   -34  kHostDiskFull       no room left on the volume while writing
//   -36  kHostIOError        a read or write failed (also: a write stream
//                            whose codec failed with no host error recorded)
//   -39  kHostEndOfFile      the source ran out of bytes
//   -43  kHostFileNotFound   the file (or its folder) does not exist
//   -50  kHostParamError     a bad argument (quality outside 0..6, a null
//                            stream, a call out of order)
//   -54  kHostPermission     the file may not be opened that way
//  -108  kHostNoMemory       out of memory
// -25830 kHostCodecError     the codec failed; JPEGLastErrorMessage() (stm.h)
//                            tells why
#ifndef JPEG_HOST_FRAMEWORK_H
#define JPEG_HOST_FRAMEWORK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jpeg_export.h"

enum : int16_t {
  kHostNoError = 0,
  kHostUnimplemented = -4,
  kHostDiskFull = -34,
  kHostIOError = -36,
  kHostEndOfFile = -39,
  kHostFileNotFound = -43,
  kHostParamError = -50,
  kHostPermission = -54,
  kHostNoMemory = -108,
  kHostCodecError = -25830
};

// What Failure throws.
struct JPEG_API HostFailure {
  int16_t error;
  int32_t message;
};

// Raise HostFailure{error, message}. Never returns.
[[noreturn]] JPEG_API void Failure(int16_t error, int32_t message);
// Raise kHostNoMemory when p is null.
JPEG_API void FailNIL(const void* p);
// Raise err when it is not 0.
JPEG_API void FailOSErr(int16_t err);
// Call only inside a catch handler: the failure being handled, as a
// HostFailure (std::bad_alloc becomes kHostNoMemory, anything else
// kHostIOError; an error code of 0 also becomes kHostIOError).
JPEG_API HostFailure CurrentHostFailure();

// --- objects -----------------------------------------------------------------

// Root class. Objects are made with new (the class's operator new answers
// null instead of throwing when memory runs out, so factories test the
// result) and released with Free() or FreeIfObject().
class JPEG_API TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject();
  virtual void DoUpdate();
  // A four-character code naming the kind of object ('????' here).
  virtual int32_t GetStandardSignature();
  // A copy of the object; raises kHostUnimplemented unless a class supports it.
  virtual TObject* Clone();
  // Destroys the object and releases its storage.
  virtual void Free();

  static void* operator new(std::size_t size) noexcept;
  static void operator delete(void* p) noexcept;
};

// Frees obj when it is not null.
JPEG_API void FreeIfObject(TObject* obj);

// --- streams -------------------------------------------------------------------

// A byte stream. Positions and lengths are 32-bit byte counts; length minus
// position is what is left to read. The base answers 0 for both and raises
// kHostIOError for any transfer.
class JPEG_API TStream : public TObject {
 public:
  virtual int32_t GetPosition();
  virtual int32_t GetLength();
  // Reads exactly count bytes into buffer, or raises.
  virtual void GetBytes(int32_t count, void* buffer);
  // Writes all count bytes, or raises.
  virtual void PutBytes(int32_t count, const void* buffer);
};

// A stream that reads from another stream (its source). It owns the source
// only when told to (SetOwnsSource): then the source is freed with it.
class JPEG_API TReadStream : public TStream {
 public:
  ~TReadStream() override;
  void IReadStream(TStream* source);
  void SetOwnsSource(bool owns) { fOwnsSource = owns; }
  TStream* Source() const { return fSource; }
  int32_t GetPosition() override;
  int32_t GetLength() override;
  void GetBytes(int32_t count, void* buffer) override;

 private:
  TStream* fSource = nullptr;
  bool fOwnsSource = false;
};

// A stream that writes into another stream (its target), with the same
// ownership rule as TReadStream. bufferSize is the size the host suggests
// for its writes; the bytes are passed on unbuffered.
class JPEG_API TWriteStream : public TStream {
 public:
  ~TWriteStream() override;
  void IWriteStream(TStream* target, int32_t bufferSize);
  void SetOwnsTarget(bool owns) { fOwnsTarget = owns; }
  bool OwnsTarget() const { return fOwnsTarget; }
  TStream* Target() const { return fTarget; }
  int32_t BufferSize() const { return fBufferSize; }
  int32_t GetPosition() override;
  int32_t GetLength() override;
  void PutBytes(int32_t count, const void* buffer) override;

 private:
  TStream* fTarget = nullptr;
  int32_t fBufferSize = 0;
  bool fOwnsTarget = false;
};

// Names a file by its path.
class JPEG_API TFile {
 public:
  explicit TFile(std::string path) : fPath(std::move(path)) {}
  const std::string& Path() const { return fPath; }

 private:
  std::string fPath;
};

// A stream over a real file. Mode 0 reads (a missing file raises
// kHostFileNotFound). Mode 1 writes a new file that takes the place of the
// named one only when the stream is closed: the bytes go to a new file in the
// same folder, and Close() (or freeing the stream, when no write failed)
// renames it over the named file, which until then stays as it was. Through a
// symbolic link the file the link leads to is replaced and the link stays; a
// replaced file keeps its permission bits; a file that may not be written
// raises kHostPermission at once. Abandon() drops what was written and leaves
// the named file untouched. A device, pipe or other special file is written
// directly. Every PutBytes reaches the operating system before it returns, so
// write errors (a full disk, an I/O error) are raised by the PutBytes that
// met them; Close() raises when the file cannot be finished or put in place.
class JPEG_API TFileStream : public TStream {
 public:
  enum : int16_t { kReadMode = 0, kWriteMode = 1 };
  ~TFileStream() override;
  void IFileStream(TFile* file, int16_t mode);
  // Closes the file now (for writing: puts the new file in place), raising
  // when that fails; after a failed write it raises that write's code and
  // leaves the named file alone. Idempotent.
  void Close();
  // Closes without putting anything in place: the named file stays as it
  // was (a special file keeps what was written). Idempotent; never raises.
  void Abandon();
  int32_t GetPosition() override;
  int32_t GetLength() override;
  void GetBytes(int32_t count, void* buffer) override;
  void PutBytes(int32_t count, const void* buffer) override;

 private:
  void* fFile = nullptr;  // the open file and where it goes (host_streams.cpp)
  int16_t fMode = kReadMode;
  int32_t fPosition = 0;
  int32_t fLength = 0;
};

// A stream over bytes in memory: reads from the start of the bytes it was
// given, writes at the position (extending the bytes). For tests and for
// hosts that embed JPEG data in other documents.
class JPEG_API TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> contents) : fContents(std::move(contents)) {}
  const std::vector<uint8_t>& Contents() const { return fContents; }
  void SetPosition(int32_t position);
  int32_t GetPosition() override;
  int32_t GetLength() override;
  // Raises kHostEndOfFile (copying nothing) when fewer than count bytes are left.
  void GetBytes(int32_t count, void* buffer) override;
  void PutBytes(int32_t count, const void* buffer) override;

 private:
  std::vector<uint8_t> fContents;
  int32_t fPosition = 0;
};

// --- catching failures ---------------------------------------------------------

// Runs a piece of code and keeps the failure it raised, if any:
//
//   TryBlock block;
//   block.Try([&] { ... });
//   if (block.Always()) { ... clean-up for success and failure ... }
//   if (block.Catch(1)) { ... block.Error() ... }   // handled here
//   block.End();                                     // passes an unhandled failure on
class JPEG_API TryBlock {
 public:
  template <typename Body>
  TryBlock& Try(Body&& body) noexcept {
    try {
      body();
    } catch (...) {
      Record(CurrentHostFailure());
    }
    return *this;
  }
  // True: the clean-up shared by success and failure is to run.
  bool Always() const { return true; }
  // True when a failure happened; it counts as handled from then on.
  bool Catch(int16_t) {
    if (!fFailed) return false;
    fHandled = true;
    return true;
  }
  bool Failed() const { return fFailed; }
  int16_t Error() const { return fFailure.error; }
  int32_t Message() const { return fFailure.message; }
  // Raises the failure again unless it was handled.
  void End();

 private:
  void Record(const HostFailure& failure) noexcept;
  HostFailure fFailure{kHostNoError, 0};
  bool fFailed = false;
  bool fHandled = false;
};

// --- large handles and memory procedures ----------------------------------------

// A relocatable byte block: a pointer to the pointer to its bytes.
using LargeHandle = uint8_t**;

// A block of size bytes (contents undefined); raises kHostNoMemory (or
// kHostParamError for a negative size).
JPEG_API LargeHandle NewLargeHandle(int32_t size);
// Changes the size, keeping the contents up to the smaller size; raises
// kHostNoMemory and leaves the block as it was when memory runs out.
JPEG_API void ResizeLargeHandle(LargeHandle h, int32_t newSize);
// Releases the block (null accepted).
JPEG_API void FreeLargeHandle(LargeHandle h);
// The size in bytes (0 for null).
JPEG_API int32_t GetHandleSize(LargeHandle h);

// The host's memory procedures, in table order.
struct BNMemoryProcs {
  void* (*allocate)(int32_t size);                                   // 0: null on failure
  void (*blockMove)(const void* source, void* destination, int32_t count);  // 1
  void (*release)(void* block);                                      // 2: null accepted
};
JPEG_API extern const BNMemoryProcs BNMemory;

#endif
