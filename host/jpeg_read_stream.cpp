// jpeg_read_stream.cpp - TJPEGReadStream: the host's way to open a JPEG file
// (or ASCII85-wrapped JPEG data). The decode filter (optionally over an
// ASCII85 decode filter) reads from fStm, a bottom stream that refills from
// the source host stream and keeps the decoder's 0xFF guard byte after every
// refill. While the decoder parses the header it hands application segments
// to the stream's own user-segment hook, which passes them to its
// ParseUserMarker: resolution (JFIF, "Storm", the old resource format) and the
// host's resource data ("Imagerion 3.0" segments, concatenated).
//
// Host failures never unwind through the codec: the fill procedure catches
// them and records the code in fError; the methods raise it after the codec
// has returned. A host failure is raised in preference to the codec failure
// it caused, since it is the reason; running out of bytes (-39) is reported
// as the codec's failure (-25830) when the decoder could not finish, and not
// at all when it could (a complete image whose EOI is missing). A line of
// more than 32767 bytes leaves the decode filter in pieces, one per fill;
// GetJPEGRaster gathers them, so the host always gets whole lines. The last line
// also reads on to the end of the image, so that data damaged after it fails
// here exactly as it fails the decode filter and the thumbnail interface.
#include <cstdint>
#include <cstring>

#include "bn_streams.h"
#include "codec/jpeg_markers.h"
#include "decode/jpeg_filter_query.h"
#include "host/host_internal.h"
#include "jpeg_stream.h"
#include "stream/error_path.h"
#include "stream/stm_procs.h"

// Kept for binary compatibility only: segments go to the stream that owns
// each decode, so nothing registers a stream here any more.
TJPEGReadStream* gJPEGReadStream = nullptr;

namespace {

constexpr uint16_t kBottomBufferSize = 8192;
// Colour code reported for two-component images, which the decoder leaves
// without a code.
constexpr int16_t kTwoComponentCode = 3;
// A colour code the decoder never reports: left in place means "no code".
constexpr int16_t kNoColorCode = -1;

// Application-segment signatures and the payload offsets read from them.
// (The identifiers and their layouts: codec/jpeg_markers.h.)
constexpr int kJFIFUnits = 7, kJFIFDensity = 8;
constexpr uint32_t kStormMaxResolution = 10000;             // exclusive
constexpr int kOldResourceResolutionAt = kOldResourceIdentifierBytes;  // right after the identifier
constexpr uint16_t kImagerionHeadLength = sizeof kJPEGResourceSignature;  // 14

constexpr int32_t kFixedOne = 65536;  // 1.0 in 16.16
constexpr double kCentimetresPerInch = 2.54;
constexpr double kMaxResolution = 2147483648.0;  // 2^31: 32768.0 in 16.16

TJPEGReadStream* OwnerOf(Stm* s) { return static_cast<TJPEGReadStream*>(s->procData); }

uint32_t BigEndian16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t BigEndian32(const uint8_t* p) { return (BigEndian16(p) << 16) | BigEndian16(p + 2); }

// Refills fStm from the source: at most a buffer's worth, followed by the
// guard byte. The end of the source sets fError -39; a host failure sets
// fError to its code. Either way the stream answers -1 from then on.
int16_t MyReadStmFilBuf(Stm* s) {
  if (s->eof || s->error) return -1;
  TJPEGReadStream* owner = OwnerOf(s);
  s->ptr = s->base;
  int64_t left = 0;
  TryBlock block;
  block.Try([&] { left = int64_t{owner->GetLength()} - owner->GetPosition(); });
  if (!block.Failed() && left <= 0) {
    owner->fError = kHostEndOfFile;
    return StmRefillWithGuard(s, 0);  // the end of the data
  }
  const int32_t n = left >= s->bufSize ? s->bufSize : static_cast<int32_t>(left);
  if (!block.Failed()) block.Try([&] { owner->GetBytes(n, s->ptr); });
  if (block.Catch(1)) {
    owner->fError = block.Error();
    s->error = 1;
    s->count = 0;
    return -1;
  }
  return StmRefillWithGuard(s, static_cast<size_t>(n));
}

bool IsHostError(int16_t error) { return error != kHostNoError && error != kHostEndOfFile; }

// Copies the piece of a line the last fill handed out to its place in line
// (of lineBytes bytes); true when it was the line's last piece.
bool TakePiece(const Stm* jpegStm, char* line, int32_t lineBytes) {
  int32_t start = 0, bytes = 0;
  JPEGDLinePiece(jpegStm, &start, &bytes);
  const int32_t end = start + bytes;
  const int32_t stop = end < lineBytes ? end : lineBytes;
  if (stop > start) std::memcpy(line + start, jpegStm->base, static_cast<size_t>(stop - start));
  return end >= JPEGDLineBytes(jpegStm);
}

// ASCII85 text cut after the image's last byte but before its end mark
// reads like a complete image: the decoder stops at EOI, and only the text
// filter, read through to its end, can tell the text was cut.
bool TextEndsWithItsMark(Stm* a85) {
  uint8_t rest[256];
  while (StmFRead(rest, 1, sizeof rest, a85) > 0) {
  }
  return a85->error == 0;
}

}  // namespace

TJPEGReadStream::TJPEGReadStream()
    : fError(kHostNoError),
      fResolution(0),
      fResources(nullptr),
      fLineBytes(0),
      fStm{},
      fJPEGStm(nullptr),
      fA85Stm(nullptr) {}

TJPEGReadStream::~TJPEGReadStream() {
  CloseFilters();
  FreeLargeHandle(fResources);
}

void TJPEGReadStream::IJPEGReadStream(TStream* source) { IReadStream(source); }

void TJPEGReadStream::CloseFilters() {
  if (fJPEGStm != nullptr) CCloseJPEGDecode(fJPEGStm);
  fJPEGStm = nullptr;
  if (fA85Stm != nullptr) CCloseAscii85Decode(fA85Stm);
  fA85Stm = nullptr;
}

// Raises what made the decoder stop: a host failure first (it is the
// reason), then a codec failure. Running out of bytes alone is none: where
// the decoder needed them it failed with its own reason, and a complete image
// whose data ends where EOI should stand is sound.
void TJPEGReadStream::RaiseReadFailure() {
  if (IsHostError(fError)) FailOSErr(fError);
  if (fJPEGStm != nullptr ? JPEGDFilterFailed(fJPEGStm) : DCTThreadFailed()) Failure(kHostCodecError, 0);
}

void TJPEGReadStream::NoteMarkerFailure(int16_t error) {
  if (fMarkerError == kHostNoError) fMarkerError = error;
}

void TJPEGReadStream::StartJPEG(JPEGReadInfo* info, unsigned char ascii85) {
  if (info == nullptr) Failure(kHostParamError, 0);
  CloseFilters();  // a stream may be started again for a further image
  fResolution = 0;
  fError = kHostNoError;
  fMarkerError = kHostNoError;
  DCTClearFailure();

  fStm = Stm{};
  fStm.procData = this;
  fStm.bufSize = kBottomBufferSize;
  fStm.ptr = fStm.base = fBuffer;
  fStm.flsBuf = StmRefuseFlush;
  fStm.filBuf = MyReadStmFilBuf;

  int16_t decodeInfo[3] = {0, 0, kNoColorCode};  // width hint in / width, height, colour code
  TryBlock block;
  block.Try([&] {
    Stm* below = &fStm;
    if (ascii85) {
      fA85Stm = COpenAscii85Decode(&fStm, nullptr);
      FailNIL(fA85Stm);
      below = fA85Stm;
    }
    // Parses the header: ParseUserMarker runs through the hook.
    fJPEGStm = JPEGDOpenHooked(below, &decodeInfo[0], &decodeInfo[1], &decodeInfo[2],
                               DCTDusermarker, this);
    if (fJPEGStm == nullptr) RaiseReadFailure();
    FailNIL(fJPEGStm);
    FailOSErr(fMarkerError);
  });
  if (block.Failed()) CloseFilters();
  block.End();

  const int16_t colors = ColorsForCode(decodeInfo[2], fJPEGStm);
  info->width = decodeInfo[0];
  info->height = decodeInfo[1];
  info->colorCode = decodeInfo[2] == kNoColorCode ? kTwoComponentCode : decodeInfo[2];
  info->colors = colors;
  // Columns travel as 16 bits; read them unsigned so wide images keep their lines.
  fLineBytes = int32_t{colors} * static_cast<uint16_t>(decodeInfo[0]);
}

void TJPEGReadStream::GetJPEGRaster(char* line) {
  if (fJPEGStm == nullptr || line == nullptr) Failure(kHostParamError, 0);
  if (fJPEGStm->filBuf(fJPEGStm) != 0) {
    RaiseReadFailure();  // nothing when the image simply has no more lines
    return;
  }
  while (!TakePiece(fJPEGStm, line, fLineBytes)) {
    // A line's later pieces are decoded already: their fills cannot fail.
    if (fJPEGStm->filBuf(fJPEGStm) != 0) Failure(kHostCodecError, 0);
  }
  // The image's last line also settles the image: the data after it must
  // end cleanly, as the decode filter and the thumbnail interface require.
  if (JPEGDEveryLineHandedOut(fJPEGStm) && !JPEGDFinishImage(fJPEGStm)) {
    RaiseReadFailure();
    Failure(kHostCodecError, 0);
  }
}

void TJPEGReadStream::StopJPEG() {
  TryBlock block;  // the failure is judged while the decoder is still open
  block.Try([&] {
    FailOSErr(fMarkerError);
    RaiseReadFailure();
    if (fA85Stm != nullptr && !TextEndsWithItsMark(fA85Stm)) {
      FailOSErr(fError);
      FailOSErr(kHostEndOfFile);
    }
  });
  CloseFilters();
  block.End();
}

// --- application segments ----------------------------------------------------------

void TJPEGReadStream::ParseUserMarker(char* data, unsigned short marker, unsigned short length) {
  if (data == nullptr) return;
  const auto* p = reinterpret_cast<const uint8_t*>(data);

  if (marker == kAPP0 && length >= kJFIFBodyBytes &&
      std::memcmp(p, kJFIFIdentifier, kJFIFIdentifierBytes) == 0) {
    const uint8_t units = p[kJFIFUnits];
    if (units == 0) return;  // an aspect ratio only
    double resolution = double{kFixedOne} * BigEndian16(p + kJFIFDensity);
    if (units == 2) resolution = resolution * kCentimetresPerInch + 0.5;  // from dots per centimetre
    // 32768 dots per inch and more do not fit 16.16: such a density is ignored.
    if (resolution < kMaxResolution) fResolution = static_cast<int32_t>(resolution);
    return;
  }
  if (marker != kAPP13) return;

  if (fResolution == 0 && length == kResolutionBodyBytes &&
      std::memcmp(p, kResolutionIdentifier, kResolutionIdentifierBytes) == 0) {
    const uint32_t dpi = BigEndian16(p + kResolutionAt);
    if (dpi > 0 && dpi < kStormMaxResolution) fResolution = static_cast<int32_t>(dpi) * kFixedOne;
    return;
  }
  if (fResources == nullptr && length >= kOldResourceHeadBytes &&
      std::memcmp(p, kOldResourceIdentifier, kOldResourceIdentifierBytes) == 0) {
    fResolution = static_cast<int32_t>(BigEndian32(p + kOldResourceResolutionAt));
    if (length > kOldResourceHeadBytes) {
      fResources = NewLargeHandle(length - kOldResourceHeadBytes);
      BNMemory.blockMove(p + kOldResourceHeadBytes, *fResources, length - kOldResourceHeadBytes);
    }
    return;
  }
  if (length > kImagerionHeadLength &&
      std::memcmp(p, kJPEGResourceSignature, kImagerionHeadLength) == 0) {
    const int32_t n = length - kImagerionHeadLength;
    const int32_t old = GetHandleSize(fResources);
    if (fResources == nullptr) {
      fResources = NewLargeHandle(n);
    } else {
      if (old > INT32_MAX - n) Failure(kHostNoMemory, 0);
      ResizeLargeHandle(fResources, old + n);
    }
    BNMemory.blockMove(p + kImagerionHeadLength, *fResources + old, n);
  }
}

// --- factories -----------------------------------------------------------------------

TJPEGReadStream* MakeJPEGReadFolioprintStream(TStream* source) {
  if (source == nullptr) Failure(kHostParamError, 0);
  auto* stream = new TJPEGReadStream;
  FailNIL(stream);
  TryBlock block;
  block.Try([&] { stream->IJPEGReadStream(source); });
  if (block.Catch(1)) {
    stream->Free();
    Failure(block.Error(), block.Message());
  }
  return stream;
}

TJPEGReadStream* MakeJPEGReadFileStream(TFile* file) {
  auto* fileStream = new TFileStream;
  FailNIL(fileStream);
  TJPEGReadStream* stream = nullptr;
  TryBlock block;
  block.Try([&] {
    fileStream->IFileStream(file, TFileStream::kReadMode);
    stream = MakeJPEGReadFolioprintStream(fileStream);
    stream->SetOwnsSource(true);
  });
  if (block.Catch(1)) {
    FreeIfObject(fileStream);
    Failure(block.Error(), block.Message());
  }
  return stream;
}
