// jpeg_write_stream.cpp - TJPEGWriteStream: the host's way to save an image
// as JPEG. The encode filter (optionally over an ASCII85 encode filter)
// writes into fStm, a bottom stream whose procedures move the bytes into this
// object's PutBytes and so into the target host stream. The host's resource
// data goes ahead of the image as a run of APP13 segments.
//
// Widths travel in the options' 16-bit field read unsigned (up to 65535
// pixels, the frame's limit). A line of any width is passed whole to
// PutJPEGRaster; StmFWrite moves it into the encode filter, which takes a
// line of more than 32767 bytes piece by piece (jpeg_filters.h).
//
// Saving to a file (MakeJPEGWriteFileStream) writes a new file beside the
// named one (TFileStream); a successful StopJPEG puts it in place, and a
// stream freed without one drops it, so a failed save loses nothing.
//
// Host failures never unwind through the codec: the flush procedure catches
// them, records the code in fError and marks fStm failed; StopJPEG raises the
// recorded code once the codec is done.
#include <cstdint>
#include <cstdio>

#include "bn_streams.h"
#include "codec/jpeg_markers.h"
#include "decode/jpeg_filter_query.h"
#include "jpeg_stream.h"
#include "stream/error_path.h"
#include "stream/stm_inline.h"
#include "stream/stm_procs.h"

namespace {

// Quantizer scale per quality 0..6: 0 selects the coarsest tables.
constexpr double kQFactor[7] = {1.3, 1.0, 0.76, 0.65, 0.4, 0.25, 0.15};
// Qualities below this one subsample chroma 2x2 and blend it.
constexpr int32_t kFirstFullChromaQuality = 3;
constexpr uint16_t kBottomBufferSize = 8192;
constexpr long kHostBufferSize = 16384;
// APP13 segment head: marker (2), length (2), signature with its zero (14).
constexpr int32_t kSignatureBytes = sizeof kJPEGResourceSignature;
constexpr int32_t kSegmentHeadBytes = 4 + kSignatureBytes;

TJPEGWriteStream* OwnerOf(Stm* s) { return static_cast<TJPEGWriteStream*>(s->procData); }

// Moves the buffered bytes into the host stream. A host failure is caught
// here (it must not unwind through the codec): its code is kept in fError and
// the stream is marked failed; bytes buffered after that are dropped. The
// buffer is emptied in every case.
void MyWriteStmFlush(Stm* s) {
  TJPEGWriteStream* owner = OwnerOf(s);
  const int32_t n = static_cast<int32_t>(s->ptr - s->base);
  if (n != 0 && !s->error) {
    TryBlock block;
    block.Try([&] { owner->PutBytes(n, s->base); });
    if (block.Catch(1)) {
      if (owner->fError == kHostNoError) owner->fError = block.Error();
      s->error = 1;
    }
  }
  s->ptr = s->base;
  s->count = static_cast<int16_t>(s->bufSize);
}

int16_t MyWriteStmFlsBuf(int16_t ch, Stm* s) {
  if (s->error || s->eof) return -1;
  MyWriteStmFlush(s);
  return StmRestartWrite(ch, s);
}

// A line of the wrong length. The failure is reported as the codec's own
// (message, gJPEGError, the filter stream's error flag), so the filter takes
// nothing more and its close writes no end of image: the partial stream is
// never taken for a finished one.
void RefuseLine(Stm* jpeg, long length) {
  char message[96];
  std::snprintf(message, sizeof message, "Raster line of %ld bytes; the image's lines have %ld",
                length, static_cast<long>(JPEGELineBytes(jpeg)));
  JPEGErrorMessage(message);
  jpeg->error = 1;
}

// The file stream a stream made by MakeJPEGWriteFileStream writes, or null.
TFileStream* SavedFile(TJPEGWriteStream* stream) {
  return stream->OwnsTarget() ? dynamic_cast<TFileStream*>(stream->Target()) : nullptr;
}

}  // namespace

JPEGEncodeParams TJPEGWriteStream::EncodeParamsFor(const JPEGWriteOptions& options) {
  JPEGEncodeParams p{};
  p.QFactor = QFactorFor(options.quality);
  p.subsample = options.quality < kFirstFullChromaQuality ? 1 : 0;
  p.blend = p.subsample;
  p.ColorTransform = 1;
  p.densityUnits = 1;  // dots per inch
  p.xDensity = static_cast<uint16_t>(options.xResolution);
  p.yDensity = static_cast<uint16_t>(options.yResolution);
  p.Columns = static_cast<uint16_t>(options.width);
  p.Rows = options.height;
  p.Colors = options.colors;
  p.markerMode = static_cast<int16_t>(static_cast<uint16_t>(options.markerMode));
  return p;
}

double TJPEGWriteStream::QFactorFor(int32_t quality) {
  if (quality < 0 || quality > 6) Failure(kHostParamError, 0);
  return kQFactor[quality];
}

TJPEGWriteStream::TJPEGWriteStream()
    : fError(kHostNoError), fUserMarkers(nullptr), fStm{}, fJPEGStm(nullptr), fA85Stm(nullptr) {}

// Freed before a successful StopJPEG: the file being saved is dropped and
// the one it was to replace stays as it was.
TJPEGWriteStream::~TJPEGWriteStream() {
  CloseFilters();
  if (TFileStream* file = SavedFile(this)) file->Abandon();
}

void TJPEGWriteStream::CloseFilters() {
  if (fJPEGStm != nullptr) CCloseJPEGEncode(fJPEGStm);
  fJPEGStm = nullptr;
  if (fA85Stm != nullptr) CCloseAscii85Encode(fA85Stm);
  fA85Stm = nullptr;
}

void TJPEGWriteStream::IJPEGWriteStream(TStream* target, long bufferSize) {
  IWriteStream(target, static_cast<int32_t>(bufferSize));
}

void TJPEGWriteStream::StartJPEG(const JPEGWriteOptions& options, unsigned char ascii85) {
  if (fJPEGStm != nullptr || fA85Stm != nullptr) Failure(kHostParamError, 0);  // already started
  if (options.width == 0 || options.height < 1) Failure(kHostParamError, 0);
  JPEGEncodeParams params = EncodeParamsFor(options);
  LargeHandle markers = fUserMarkers ? SpoolUserMarkers() : nullptr;
  params.markerData = markers;
  params.markerDataLength = GetHandleSize(markers);
  fError = kHostNoError;

  TryBlock block;
  block.Try([&] {
    fStm = Stm{};
    fStm.procData = this;
    fStm.bufSize = kBottomBufferSize;
    fStm.ptr = fStm.base = fBuffer;
    fStm.flsBuf = MyWriteStmFlsBuf;
    fStm.filBuf = StmRefuseFill;
    MyWriteStmFlush(&fStm);  // nothing buffered: just sets count
    Stm* below = &fStm;
    if (ascii85) {
      fA85Stm = COpenAscii85Encode(&fStm, nullptr);
      FailNIL(fA85Stm);
      below = fA85Stm;
    }
    DCTClearFailure();
    fJPEGStm = COpenJPEGEncode(below, &params);
    // A refusal with a codec message (bad colours, a size it cannot code)
    // is the codec's failure, not a lack of memory.
    if (fJPEGStm == nullptr && DCTThreadFailed()) Failure(kHostCodecError, 0);
    FailNIL(fJPEGStm);
  });
  if (block.Always()) FreeLargeHandle(markers);  // the filter copied the bytes
  if (block.Failed()) CloseFilters();
  block.End();
}

void TJPEGWriteStream::PutJPEGRaster(char* line, long length) {
  if (fJPEGStm == nullptr || line == nullptr || length < 0 || length > INT32_MAX)
    Failure(kHostParamError, 0);
  if (!fJPEGStm->error) {
    if (length == JPEGELineBytes(fJPEGStm))
      StmFWrite(line, 1, static_cast<uint32_t>(length), fJPEGStm);
    else
      RefuseLine(fJPEGStm, length);
  }
  if (fJPEGStm->error) {
    FailOSErr(fError);
    FailOSErr(kHostIOError);
  }
}

void TJPEGWriteStream::StopJPEG() {
  bool codecFailed = false;
  const bool started = fJPEGStm != nullptr;
  if (started) {
    codecFailed = fJPEGStm->error != 0;
    DCTClearFailure();
    CCloseJPEGEncode(fJPEGStm);  // writes the rest of the image
    fJPEGStm = nullptr;
    // A close before every line arrived leaves the image without its end.
    codecFailed = codecFailed || DCTThreadFailed();
  }
  if (fA85Stm != nullptr) {
    CCloseAscii85Encode(fA85Stm);  // writes the ASCII85 end mark
    fA85Stm = nullptr;
  }
  if (fStm.base != nullptr) MyWriteStmFlush(&fStm);
  FailOSErr(fError);
  if (codecFailed) Failure(kHostCodecError, 0);
  // A whole image is written: only now does the saved file replace the
  // one it names.
  TFileStream* file = started ? SavedFile(this) : nullptr;
  if (file == nullptr) return;
  TryBlock block;
  block.Try([&] { file->Close(); });
  if (block.Catch(1)) fError = block.Error();
  FailOSErr(fError);
}

LargeHandle TJPEGWriteStream::SpoolUserMarkers() {
  const int32_t size = GetHandleSize(fUserMarkers);
  const int32_t chunks = (size + (kJPEGResourceChunk - 1)) / kJPEGResourceChunk;
  const int64_t total = static_cast<int64_t>(size) + static_cast<int64_t>(chunks) * kSegmentHeadBytes;
  if (total > INT32_MAX) Failure(kHostNoMemory, 0);
  LargeHandle h = NewLargeHandle(static_cast<int32_t>(total));

  TryBlock block;
  block.Try([&] {
    const uint8_t* source = *fUserMarkers;
    uint8_t* dest = *h;
    for (int32_t left = size; left > 0;) {
      const int32_t n = left < kJPEGResourceChunk ? left : kJPEGResourceChunk;
      const int32_t segmentLength = n + 2 + kSignatureBytes;  // counts the length bytes
      *dest++ = kMarkerPrefix;
      *dest++ = kAPP13;
      *dest++ = static_cast<uint8_t>(segmentLength >> 8);
      *dest++ = static_cast<uint8_t>(segmentLength & 0xFF);
      BNMemory.blockMove(kJPEGResourceSignature, dest, kSignatureBytes);
      dest += kSignatureBytes;
      BNMemory.blockMove(source, dest, n);
      dest += n;
      source += n;
      left -= n;
    }
  });
  if (block.Catch(1)) {
    FreeLargeHandle(h);
    Failure(block.Error(), block.Message());
  }
  return h;
}

TJPEGWriteStream* MakeJPEGWriteFolioprintStream(TStream* target) {
  if (target == nullptr) Failure(kHostParamError, 0);
  auto* stream = new TJPEGWriteStream;
  FailNIL(stream);
  TryBlock block;
  block.Try([&] { stream->IJPEGWriteStream(target, kHostBufferSize); });
  if (block.Catch(1)) {
    stream->Free();
    Failure(block.Error(), block.Message());
  }
  return stream;
}

TJPEGWriteStream* MakeJPEGWriteFileStream(TFile* file) {
  auto* fileStream = new TFileStream;
  FailNIL(fileStream);
  TJPEGWriteStream* stream = nullptr;
  TryBlock block;
  block.Try([&] {
    fileStream->IFileStream(file, TFileStream::kWriteMode);
    stream = MakeJPEGWriteFolioprintStream(fileStream);
    stream->SetOwnsTarget(true);
  });
  if (block.Catch(1)) {
    FreeIfObject(fileStream);
    Failure(block.Error(), block.Message());
  }
  return stream;
}
