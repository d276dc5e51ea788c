// jpeg_encode_filter.cpp - the JPEG encode filter: raster lines written into
// its Stm come out of the target Stm as a baseline JPEG stream.
//
// JPEGOpen builds the filter context and the codec state, copies the
// caller's parameters in (JPEGEncConfigure) and lets the set-up prepare
// tables and strip memory (DCTEncodeOpen). The filter's buffer is exactly one
// raster line, the line buffer in the strip memory: when the first byte of
// the next line arrives (or at close) JPEGEFlsBuf hands the complete line to
// DCTEFlush, which writes the header on the first line, codes strips as they
// complete and writes EOI after the last line. Every entry arms the error
// jump (stream/error_path.h) before calling into the codec; a failure makes
// the open return null or sets the stream's error flag.
#include <cstdlib>
#include <cstring>

#include "dct/dcte.h"
#include "jpeg_filters.h"
#include "stream/error_path.h"
#include "stream/stm_inline.h"

namespace {

constexpr int32_t kAPP0Bytes = 18;  // JFIF APP0 segment, marker included
constexpr int32_t kFixedOne = 65536;

JPEGFilterContext* ContextOf(Stm* s) { return static_cast<JPEGFilterContext*>(s->procData); }

// The filter's buffer is the line buffer, one raster line long.
void StartLineBuffer(JPEGFilterContext* ctx) {
  Stm* s = &ctx->stm;
  const DCTState* state = ctx->state;
  s->bufSize = static_cast<uint16_t>(state->inputLineBytes);
  s->count = static_cast<int16_t>(state->inputLineBytes);
  s->ptr = s->base = state->lineBuffer;
}

// 16.16 fixed point of a factor already known to be >= 0, truncated; factors
// too large for 32 bits saturate (every such factor already clamps each
// quantizer to its maximum, and selects the same Huffman tables).
int32_t FixedQuality(double q) {
  const double f = q * kFixedOne;
  if (f >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(f);
}

int32_t MaxQuantValue(double q) {
  if (q <= 1.01) return 85;
  if (q <= 1.31) return 90;
  return 93;
}

void WriteAPP0(uint8_t* p, const JPEGEncodeParams* params) {
  const uint8_t app0[kAPP0Bytes] = {
      0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 2,
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

void SetSampling(DCTState* state, int32_t s) {
  for (int32_t i = 0; i < state->Colors; i++) {
    const bool fullRate = i == 0 || i == 3;
    state->components[i].hSamples = fullRate ? s : 1;
    state->components[i].vSamples = fullRate ? s : 1;
  }
}

}  // namespace

void JPEGEncConfigure(DCTState* state, JPEGEncodeParams* params) {
  if (!(params->QFactor >= 0.0)) params->QFactor = 0.0;  // negative (or NaN)
  bool withAPP0 = true;
  if (params->markerMode == 1) {
    params->ColorTransform = 1;
    withAPP0 = false;
  } else if (params->markerMode == 2) {
    params->subsample = 0;
    params->ColorTransform = 0;
  } else {
    params->ColorTransform = 1;
  }
  state->markerData = nullptr;
  state->markerDataLength = 0;
  state->Colors = params->Colors;
  state->Columns = params->Columns;
  state->Rows = params->Rows;
  state->blend = params->blend;
  state->colorTransform = params->ColorTransform;
  if (state->Colors < 1 || state->Colors > 4) DCTStmErr0("Wrong number of colors!");
  const int32_t s = params->subsample != 0 ? 2 : 1;
  SetSampling(state, s);
  // One restart interval per MCU row (a non-interleaved scan has one block
  // per MCU). A width the set-up will reject gives 0.
  const int32_t mcuWidth = 8 * (state->Colors == 1 ? 1 : s);
  state->restartInterval = state->Columns > 0 ? (state->Columns - 1) / mcuWidth + 1 : 0;
  state->qFactorFixed = FixedQuality(params->QFactor);
  state->maxQuantValue = MaxQuantValue(params->QFactor);
  BuildMarkerData(state, params, withAPP0);
  state->outputColors = state->Colors;
}

Stm* JPEGOpen(Stm* target, JPEGEncodeParams* params) {
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
  DCTEncodeOpen(ctx->state);
  StartLineBuffer(ctx);
  DCTEndTry(&saved);
  return &ctx->stm;
}

int16_t JPEGEFlsBuf(int16_t c, Stm* s) {
  if (s->error) {
    s->count = -1;  // stays exhausted without ever wrapping
    return c;
  }
  JPEGFilterContext* ctx = ContextOf(s);
  DCTSavedEnv saved;
  DCTSaveEnv(&saved, ctx->message);
  if (setjmp(gEnv) != 0) {
    JPEGErrorMessage(ctx->message);
    s->error = 1;
  } else if (DCTEFlush(ctx->state) < 0) {
    DCTEndTry(&saved);
    return -1;  // the image is complete: the byte is refused
  }
  DCTEndTry(&saved);
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
    // A line that was begun is completed with what the buffer holds; an
    // untouched buffer (nothing written since the last line) is no line.
    const bool lineBegun = s->ptr != s->base;
    const bool finished = lineBegun && DCTEFlush(ctx->state) < 0;
    if (!finished && ctx->state->phase != 2) DCTStmErr0("Premature close before EOI");
  }
  DCTEndTry(&saved);
  DCTReleaseFilter(ctx);
}
