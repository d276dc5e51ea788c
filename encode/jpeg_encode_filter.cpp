// jpeg_encode_filter.cpp - the JPEG encode filter: raster lines written into
// its Stm come out of the target Stm as a baseline JPEG stream.
//
// JPEGOpen builds the filter context and the codec state, copies the
// caller's parameters in (JPEGEncConfigure) and lets the set-up prepare
// tables and strip memory (DCTEncodeOpen). The filter's buffer is exactly one
// raster line, the line buffer in the strip memory: when the first byte of
// the next line arrives (or at close) JPEGEFlsBuf hands the complete line to
// DCTEFlush, which writes the header on the first line, codes strips as they
// complete and writes EOI after the last line. A line of more than 32767
// bytes does not fit the Stm's 16-bit count: the buffer is then one piece of
// the line buffer at a time, and a flush that finds a piece full but the
// line not yet complete just moves the buffer on to the next piece, so the
// line is whole in the line buffer before it goes to DCTEFlush. Whole lines
// that StmFWrite brings in one run are read where the writer holds them
// (JPEGEWriteLinesInPlace), without the copy into the buffer. The data
// must fill exactly Rows lines: a byte past the last line fails the write,
// a close before the last line is complete fails the close. Every entry arms the error
// jump (stream/error_path.h) before calling into the codec; a failure makes
// the open return null or sets the stream's error flag.
#include <cstdlib>
#include <cstring>

#include "codec/jpeg_markers.h"
#include "encode/encoder.h"
#include "jpeg_filters.h"
#include "jpeg_options.h"
#include "parallel/strip_jobs.h"
#include "stream/error_path.h"
#include "stream/line_transfer.h"
#include "stream/stm_inline.h"

namespace {

constexpr int32_t kAPP0Bytes = 18;  // JFIF APP0 segment, marker included

JPEGFilterContext* ContextOf(Stm* s) { return static_cast<JPEGFilterContext*>(s->procData); }

// Points the filter's buffer, empty, at the piece of the line buffer that
// starts `start` bytes into the line: the whole line when it fits the 16-bit
// count (start 0), else at most JPEG_LINE_PIECE_BYTES of it.
void PointAtPiece(JPEGFilterContext* ctx, int32_t start) {
  Stm* s = &ctx->stm;
  DCTState* state = ctx->state;
  const int32_t bytes = DCTLinePieceBytes(state->inputLineBytes, state->Colors, start);
  state->linePieceStart = start;
  state->linePieceBytes = bytes;
  s->bufSize = static_cast<uint16_t>(bytes);
  s->count = static_cast<int16_t>(bytes);
  s->ptr = s->base = state->lineBuffer + start;
}

// Bytes of the current line written so far.
int32_t LineBytesWritten(const JPEGFilterContext* ctx) {
  const Stm* s = &ctx->stm;
  return ctx->state->linePieceStart + static_cast<int32_t>(s->ptr - s->base);
}

bool PieceEndsLine(const DCTState* state) {
  return state->linePieceStart + state->linePieceBytes >= state->inputLineBytes;
}

// The buffer holds a piece of a wide line and the line goes on: c becomes
// the first byte of the next piece. c = -1 ends the data inside the line:
// the buffer stays where it is, so the close reports the line's bytes.
int16_t ContinueLine(int16_t c, JPEGFilterContext* ctx) {
  Stm* s = &ctx->stm;
  if (c == -1) {
    s->eof = 1;
    s->count = 0;
    return -1;
  }
  const DCTState* state = ctx->state;
  PointAtPiece(ctx, state->linePieceStart + state->linePieceBytes);
  return StmRestartWrite(c, s);
}

// 16.16 fixed point of a factor already known to be >= 0, truncated; factors
// too large for 32 bits saturate (every such factor already clamps each
// quantizer to its maximum, and selects the same Huffman tables).
int32_t FixedQuality(double q) {
  const double f = q * kQFactorOne;
  if (f >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(f);
}

// The largest quantizer the set-up allows (maxQuantValue) grows with the
// quality factor in three steps: coarser factors may quantize harder.
constexpr int32_t kQuantCeilingFine = 85;     // factors up to kFineQFactorUpTo
constexpr int32_t kQuantCeilingMedium = 90;   // factors up to kMediumQFactorUpTo
constexpr int32_t kQuantCeilingCoarse = 93;   // larger factors
constexpr double kFineQFactorUpTo = 1.01;
constexpr double kMediumQFactorUpTo = 1.31;

int32_t MaxQuantValue(double q) {
  if (q <= kFineQFactorUpTo) return kQuantCeilingFine;
  if (q <= kMediumQFactorUpTo) return kQuantCeilingMedium;
  return kQuantCeilingCoarse;
}

void WriteAPP0(uint8_t* p, const JPEGEncodeParams* params) {
  const uint8_t app0[kAPP0Bytes] = {
      kMarkerPrefix, kAPP0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 2,
      static_cast<uint8_t>(params->densityUnits & 0xFF),
      static_cast<uint8_t>(params->xDensity >> 8), static_cast<uint8_t>(params->xDensity & 0xFF),
      static_cast<uint8_t>(params->yDensity >> 8), static_cast<uint8_t>(params->yDensity & 0xFF),
      0, 0};  // no thumbnail
  std::memcpy(p, app0, kAPP0Bytes);
}

// The block written right after SOI: APP0 when wanted, then the caller's
// segments verbatim.
void BuildMarkerData(DCTState* state, const JPEGEncodeParams* params, bool withAPP0) {
  const int32_t extra = params->markerDataLength;
  const bool haveExtra = extra != 0;
  if (extra < 0 || (haveExtra && (params->markerData == nullptr || *params->markerData == nullptr)))
    DCTStmErr1("Bad marker data length %ld", extra);
  if (!withAPP0 && !haveExtra) return;
  const int32_t app0 = withAPP0 ? kAPP0Bytes : 0;
  uint8_t* data = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(app0) + extra));
  if (data == nullptr) DCTStmErr0("Can't allocate Marker data");
  state->markerData = data;
  if (withAPP0) WriteAPP0(data, params);
  if (haveExtra) std::memcpy(data + app0, *params->markerData, static_cast<size_t>(extra));
  state->markerDataLength = app0 + extra;
}

// A byte arrives while the buffer holds a complete line. If that line is
// the image's last one (or the image is already complete), the byte is raster
// data the image has no room for: a line too long, or more lines than Rows.
// The last line is then left uncoded, so no complete-looking image is made.
void CheckRoomForMoreData(const DCTState* state) {
  if (state->phase == kEncPhaseDone || state->linesDone + 1 >= state->Rows)
    DCTStmErr1("Raster data past the end of the image's %ld lines", state->Rows);
}

// At close: the buffer must hold nothing or exactly one complete line.
void CheckNoPartialLine(const JPEGFilterContext* ctx) {
  const int32_t written = LineBytesWritten(ctx);
  if (written == 0 || written == ctx->state->inputLineBytes) return;
  DCTStmErr2("Premature close before EOI: line %ld has only %ld bytes", ctx->state->linesDone + 1,
             written);
}

// A run of whole lines from the writer, read where they lie (the stream's
// in-place procedure, stream/line_transfer.h). The stream is left as the
// byte path leaves it: a complete line waiting in the buffer is coded once
// bytes follow it, as JPEGEFlsBuf codes it on the next byte, and the image's
// last line always comes through the buffer, where the close finds it.
// Lines in pieces keep the byte path; which lines the coder takes in place
// is DCTETakeLineInPlace's to say.
bool MayWriteInPlace(const JPEGFilterContext* ctx, uint64_t bytes) {
  const DCTState* state = ctx->state;
  const uint64_t lineBytes = static_cast<uint64_t>(state->inputLineBytes);
  if (ctx->stm.error || state->linePieceStart != 0 || !PieceEndsLine(state) || bytes < lineBytes) return false;
  const int32_t held = LineBytesWritten(ctx);
  if (held == 0) return true;
  return held == state->inputLineBytes && state->linesDone + 1 < state->Rows;
}

uint64_t JPEGEWriteLinesInPlace(Stm* s, const uint8_t* src, uint64_t bytes) {
  JPEGFilterContext* ctx = ContextOf(s);
  if (!MayWriteInPlace(ctx, bytes)) return 0;
  DCTState* state = ctx->state;
  const uint64_t lineBytes = static_cast<uint64_t>(state->inputLineBytes);
  volatile uint64_t used = 0;  // read again after a landed error
  DCTSavedEnv saved;
  DCTSaveEnv(&saved, ctx->message);
  if (setjmp(gEnv) != 0) {
    JPEGErrorMessage(ctx->message);
    s->error = 1;
  } else {
    if (LineBytesWritten(ctx) != 0) {
      DCTEFlush(state);
      PointAtPiece(ctx, 0);
    }
    while (bytes - used >= lineBytes && DCTETakeLineInPlace(state, src + used)) used = used + lineBytes;
  }
  DCTEndTry(&saved);
  return used;
}

void SetSampling(DCTState* state, int32_t h, int32_t v) {
  for (int32_t i = 0; i < state->Colors; i++) {
    const bool fullRate = i == 0 || i == 3;
    state->components[i].hSamples = fullRate ? h : 1;
    state->components[i].vSamples = fullRate ? v : 1;
  }
}

// Sampling of component 0 (and 3) as the options ask: zero in both keeps
// what the open record set up. One component has no chroma: it is coded
// 1x1 whatever is asked, as other encoders do.
void ApplySamplingOption(DCTState* state, const JPEGEncodeOptions* options) {
  if (options->lumaH == 0 && options->lumaV == 0) return;
  int32_t h = options->lumaH, v = options->lumaV;
  if (h < 1 || h > 2 || v < 1 || v > 2) DCTStmErr2("Bad chroma sampling %ldx%ld", h, v);
  if (state->colorTransform == kTransformNone && (h != 1 || v != 1))
    DCTStmErr0("Chroma sampling needs the colour transform");
  if (state->Colors == 1) h = v = 1;
  SetSampling(state, h, v);
  const int32_t mcuWidth = 8 * (state->Colors == 1 ? 1 : h);
  state->restartInterval = state->Columns > 0 ? (state->Columns - 1) / mcuWidth + 1 : 0;
}

void ApplyOptions(DCTState* state, const JPEGEncodeOptions* options) {
  if (options == nullptr) return;
  ApplySamplingOption(state, options);
  state->optimizeTables = options->optimize != 0 ? 1 : 0;
  state->progressiveScans = options->progressive != 0 ? 1 : 0;
  // Both keep the whole image's coefficients and write its scans at the end
  // (encode/coefficient_image.h); like other encoders' optimized and
  // progressive files they carry no restart intervals, so strips are coded
  // on the filter's thread whatever JPEGSetCodingThreads asked.
  if (state->optimizeTables || state->progressiveScans) state->restartInterval = 0;
}

}  // namespace

void JPEGEncConfigure(DCTState* state, JPEGEncodeParams* params) {
  if (!(params->QFactor >= 0.0)) params->QFactor = 0.0;  // negative (or NaN)
  bool withAPP0 = true;
  bool portable = false;
  if (params->markerMode == 1) {
    params->ColorTransform = kTransformYCbCr;
    withAPP0 = false;
  } else if (params->markerMode == 2) {
    params->subsample = 0;
    params->ColorTransform = kTransformNone;
    withAPP0 = params->Colors != 3;  // JFIF would declare the RGB samples YCbCr
  } else if (params->markerMode == JPEG_MARKER_MODE_PORTABLE && params->Colors == 4) {
    // CMYK as other programs store it: untransformed, ink inverted, marked
    // by their colour segment (marker_writer.cpp); no JFIF, which is for
    // grey and YCbCr only.
    params->subsample = 0;
    params->ColorTransform = kTransformNone;
    withAPP0 = false;
    portable = true;
  } else {
    params->ColorTransform = kTransformYCbCr;
  }
  state->markerData = nullptr;
  state->markerDataLength = 0;
  state->Colors = params->Colors;
  state->Columns = params->Columns;
  state->Rows = params->Rows;
  state->blend = params->blend;
  state->colorTransform = params->ColorTransform;
  state->invertInks = portable ? 1 : 0;
  if (state->Colors < 1 || state->Colors > 4) DCTStmErr0("Wrong number of colors!");
  const int32_t s = params->subsample != 0 ? 2 : 1;
  SetSampling(state, s, s);
  // One restart interval per MCU row (a non-interleaved scan has one block
  // per MCU). A width the set-up will reject gives 0.
  const int32_t mcuWidth = 8 * (state->Colors == 1 ? 1 : s);
  state->restartInterval = state->Columns > 0 ? (state->Columns - 1) / mcuWidth + 1 : 0;
  state->qFactorFixed = FixedQuality(params->QFactor);
  state->maxQuantValue = MaxQuantValue(params->QFactor);
  BuildMarkerData(state, params, withAPP0);
  state->outputColors = state->Colors;
}

Stm* JPEGOpen(Stm* target, JPEGEncodeParams* params) { return JPEGOpenWithOptions(target, params, nullptr); }

Stm* JPEGOpenWithOptions(Stm* target, JPEGEncodeParams* params, const JPEGEncodeOptions* options) {
  if (target == nullptr || params == nullptr) return nullptr;
  JPEGFilterContext* ctx = DCTNewFilterContext(target);
  if (ctx == nullptr) return nullptr;
  ctx->stm.flsBuf = JPEGEFlsBuf;
  DCTSavedEnv saved;
  DCTSaveEnv(&saved, ctx->message);
  if (setjmp(gEnv) != 0) {
    JPEGErrorMessage(ctx->message);
    DCTReleaseFilter(ctx);
    DCTEndTry(&saved);
    return nullptr;
  }
  ctx->state = DCTFirstInit();
  ctx->state->filterStm = &ctx->stm;
  ctx->state->targetStm = target;
  JPEGEncConfigure(ctx->state, params);
  ApplyOptions(ctx->state, options);
  DCTEncodeOpen(ctx->state);
  PointAtPiece(ctx, 0);
  StmRegisterLineWrite(&JPEGEFlsBuf, &JPEGEWriteLinesInPlace);
  DCTEndTry(&saved);
  return &ctx->stm;
}

int16_t JPEGEFlsBuf(int16_t c, Stm* s) {
  if (s->error) {
    s->count = -1;  // stays exhausted without ever wrapping
    return c;
  }
  JPEGFilterContext* ctx = ContextOf(s);
  if (!PieceEndsLine(ctx->state)) return ContinueLine(c, ctx);
  DCTSavedEnv saved;
  DCTSaveEnv(&saved, ctx->message);
  if (setjmp(gEnv) != 0) {
    JPEGErrorMessage(ctx->message);
    s->error = 1;
  } else {
    if (c != -1) CheckRoomForMoreData(ctx->state);
    if (DCTEFlush(ctx->state) < 0) {
      DCTEndTry(&saved);
      return -1;  // the image is complete and the end was signalled
    }
  }
  DCTEndTry(&saved);
  PointAtPiece(ctx, 0);
  return StmRestartWrite(c, s);
}

void JPEGClose(Stm* s) {
  if (s == nullptr || s->procData == nullptr) return;
  JPEGFilterContext* ctx = ContextOf(s);
  DCTSavedEnv saved;
  DCTSaveEnv(&saved, ctx->message);
  if (setjmp(gEnv) != 0) {
    JPEGErrorMessage(ctx->message);
  } else if (!s->error) {
    // A complete line still in the buffer is coded now; a line that was
    // begun but not completed is missing data, never made up from stale
    // buffer bytes; an untouched buffer holds no line. An image given up
    // leaves in the target what the serial coder has written, workers or not.
    const int32_t written = LineBytesWritten(ctx);
    const bool partial = written != 0 && written != ctx->state->inputLineBytes;
    const bool finished = !partial && written != 0 && DCTEFlush(ctx->state) < 0;
    if (partial || (!finished && ctx->state->phase != kEncPhaseDone)) {
      if (ctx->state->parallel != nullptr) DCTEParallelDrain(ctx->state);
      CheckNoPartialLine(ctx);
      DCTStmErr0("Premature close before EOI");
    }
  }
  DCTEndTry(&saved);
  DCTReleaseFilter(ctx);
}
