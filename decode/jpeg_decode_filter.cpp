// jpeg_decode_filter.cpp - the JPEG decode filter's entries: JPEGDOpen (and
// JPEGDOpenWithSegments, its open with a segment hook: jpeg_segments.h),
// JPEGDFilBuf, JPEGDClose and the codec-state set-up JPEGDecConfigure, and
// JPEGDOpenWithOptions (jpeg_options.h), whose scaled decoding lives in
// scaled_idct.cpp.
//
// The filter wraps one decoder codec state in a JPEGFilterContext whose Stm
// hands out one raster line per fill. A line of more than 32767 bytes, which
// the Stm's 16-bit count cannot span, is handed out in pieces instead, one
// per fill, each at base (DCTLinePieceBytes): a fill decodes the next line
// only once the last piece of the current one has been handed out, so the
// pieces read in order are the line. All decoding is DCTDFilBuf's work
// (marker_parser.cpp); each entry here arms the error jump (error_path.h),
// points gErrorMsg at the context's own message buffer, and turns a landed
// error into the Stm conventions: a null open, or -1 with the error flag.
#include <cstdlib>
#include <cstring>

#include "decode/decoder.h"
#include "decode/jpeg_filter_query.h"
#include "jpeg_filters.h"
#include "jpeg_options.h"
#include "jpeg_segments.h"
#include "parallel/strip_jobs.h"
#include "stream/error_path.h"

namespace {

constexpr int32_t kLargestCount = 32767;       // Stm count is a signed 16-bit field

// colorCode: 0 three components, 1 four, 2 one; two leave it alone.
void ReportColors(int32_t colors, int16_t* colorCode) {
  if (colors == 3) *colorCode = 0;
  if (colors == 4) *colorCode = 1;
  if (colors == 1) *colorCode = 2;
}

// The line-length hint times the colour count, kept within the 16-bit count.
uint16_t HintBytes(int16_t widthHint, int32_t colors) {
  const int32_t bytes = (widthHint > 0 ? widthHint : 0) * colors;
  return static_cast<uint16_t>(bytes < kLargestCount ? bytes : kLargestCount);
}

// Points the stream at the piece of the decoded line that starts `start`
// bytes into it (the whole line when it fits the 16-bit count); count is
// that piece's length, lowered to the width hint's bufSize.
void HandOutPiece(Stm* s, DCTState* state, int32_t start) {
  const int32_t bytes = DCTLinePieceBytes(state->outputLineBytes, state->outputColors, start);
  state->linePieceStart = start;
  state->linePieceBytes = bytes;
  s->ptr = s->base = state->lineBuffer + start;
  s->count = static_cast<int16_t>(bytes < s->bufSize ? bytes : s->bufSize);
}

// Whether the piece handed out last leaves more of its line to hand out.
bool LineGoesOn(const Stm* s, const DCTState* state) {
  return s->base != nullptr && state->linePieceStart + state->linePieceBytes < state->outputLineBytes;
}

void FailFill(Stm* s) {
  s->error = 1;
  s->count = 0;
}

Stm* OpenDecoder(Stm* source, int16_t* width, int16_t* height, int16_t* colorCode,
                 DCTUserMarkerProc hook, void* hookData, int32_t scaleDenominator);

}  // namespace

void JPEGDecConfigure(DCTState* state, Stm* filterStm, Stm* source) {
  state->targetStm = source;
  state->filterStm = filterStm;
  state->blend = 0;
  state->colorTransform = kTransformUnknown;
}

Stm* JPEGDOpen(Stm* source, int16_t* width, int16_t* height, int16_t* colorCode) {
  return JPEGDOpenHooked(source, width, height, colorCode, nullptr, nullptr);
}

Stm* JPEGDOpenWithSegments(Stm* source, int16_t* width, int16_t* height, int16_t* colorCode,
                           JPEGSegmentHook hook, void* hookData) {
  return JPEGDOpenHooked(source, width, height, colorCode, hook, hookData);
}

Stm* JPEGDOpenWithOptions(Stm* source, const JPEGDecodeOptions* options, int16_t* width, int16_t* height,
                          int16_t* colorCode) {
  if (options == nullptr) return JPEGDOpenHooked(source, width, height, colorCode, nullptr, nullptr);
  const int32_t d = options->scaleDenominator;
  if (d != 0 && d != 1 && d != 2 && d != 4 && d != 8) {
    JPEGErrorMessage("Scale denominator not 1, 2, 4 or 8");
    return nullptr;
  }
  return OpenDecoder(source, width, height, colorCode, options->hook, options->hookData, d);
}

Stm* JPEGDOpenHooked(Stm* source, int16_t* width, int16_t* height, int16_t* colorCode,
                     DCTUserMarkerProc hook, void* hookData) {
  return OpenDecoder(source, width, height, colorCode, hook, hookData, 1);
}

namespace {

// The open of every entry: the header read and the first line decoded, the
// image reduced by scaleDenominator (1: full size).
Stm* OpenDecoder(Stm* source, int16_t* width, int16_t* height, int16_t* colorCode,
                 DCTUserMarkerProc hook, void* hookData, int32_t scaleDenominator) {
  if (source == nullptr) return nullptr;
  JPEGFilterContext* ctx = DCTNewFilterContext(source);
  if (ctx == nullptr) return nullptr;
  ctx->stm.filBuf = &JPEGDFilBuf;
  DCTSavedEnv saved;
  DCTSaveEnv(&saved, ctx->message);
  if (setjmp(gEnv) != 0) {
    JPEGErrorMessage(ctx->message);
    DCTDReleaseFilter(ctx);
    DCTEndTry(&saved);
    return nullptr;
  }
  ctx->state = DCTFirstInit();
  JPEGDecConfigure(ctx->state, &ctx->stm, source);
  ctx->state->allowOversizedMCU = 1;
  ctx->state->userMarkerHook = hook;
  ctx->state->userMarkerHookData = hookData;
  ctx->state->scaleDenominator = scaleDenominator;
  if (DCTDFilBuf(ctx->state) != 0) {
    std::strcpy(ctx->message, "Failed to understand file format");
    JPEGErrorMessage(ctx->message);
    DCTDReleaseFilter(ctx);
    DCTEndTry(&saved);
    return nullptr;
  }
  const DCTState* state = ctx->state;
  ctx->stm.bufSize = HintBytes(*width, state->Colors);
  ctx->stm.count = static_cast<int16_t>(ctx->stm.bufSize);
  *width = static_cast<int16_t>(static_cast<uint16_t>(state->Columns));
  *height = static_cast<int16_t>(static_cast<uint16_t>(state->Rows));
  ReportColors(state->Colors, colorCode);
  DCTEndTry(&saved);
  return &ctx->stm;
}

}  // namespace

int16_t JPEGDFilBuf(Stm* s) {
  if (s->error) return -1;
  auto* ctx = static_cast<JPEGFilterContext*>(s->procData);
  if (LineGoesOn(s, ctx->state)) {  // nothing to decode: the next piece is ready
    HandOutPiece(s, ctx->state, ctx->state->linePieceStart + ctx->state->linePieceBytes);
    return 0;
  }
  DCTSavedEnv saved;
  DCTSaveEnv(&saved, ctx->message);
  if (setjmp(gEnv) != 0) {
    JPEGErrorMessage(ctx->message);
    FailFill(s);
    DCTEndTry(&saved);
    return -1;
  }
  DCTState* state = ctx->state;
  if (s->base != nullptr && DCTDFilBuf(state) != 0) {
    FailFill(s);
    DCTEndTry(&saved);
    return -1;
  }
  HandOutPiece(s, state, 0);
  DCTEndTry(&saved);
  return 0;
}

void JPEGDClose(Stm* s) {
  if (s == nullptr || s->procData == nullptr) return;
  DCTDReleaseFilter(static_cast<JPEGFilterContext*>(s->procData));
}
