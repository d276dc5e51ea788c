// strip_memory.cpp - creating a codec state and a filter context, and laying
// out the state's strip memory. Their release, which stops a filter's
// workers first, is one layer up: parallel/filter_release.cpp.
//
// All per-image working memory is one block, allocated once when the
// geometry is known, so the per-line and per-block paths never allocate:
//
//   [4-byte word: low 32 bits of the owning state's address]
//   [quantization tables: qTable k (64 x i32), and in the encoder
//    qThreshold k right after it, for k < qTableCount]
//   [one strip per component, DCTstrip_bytes each]
//   [colour tables: encoder 3 x 1024 + 3 x (1024 or 2044) bytes,
//    decoder 2 x 1024 bytes, when a colour transform applies]
//   [4 spare bytes][line buffer to the end of the block]
//
// The line area is ceil4(L + 3 x Colors + 8) bytes for a raster line of L
// bytes, so the line routines may touch a few samples past the line end.
// It always holds the whole line, however wide: a filter whose 16-bit Stm
// count cannot span it moves the line through it in pieces (DCTLinePieceBytes).
// The block is zero-filled, so nothing a routine reads is ever undefined.
#include <cstdlib>

#include "codec/codec_state.h"
#include "stream/stm_procs.h"

namespace {

constexpr int32_t kQuantTableBytes = 64 * 4;  // one qTable or qThreshold: 64 x i32
constexpr int32_t kEncoderTableBytes = 2 * kQuantTableBytes;  // qTable + qThreshold
constexpr int32_t kDecoderTableBytes = kQuantTableBytes;      // qTable only
constexpr int32_t kOwnerWordBytes = 4;  // the owning state's address, at the block's start
constexpr int32_t kSpareBytes = 4;      // between the colour tables and the line buffer
constexpr int32_t kColorTableBytes = 1024;    // 256 x u32
constexpr int32_t kPairColorTableBytes = 2044;  // 511 x u32: indexed by the sum of two samples
constexpr int64_t kLargestBlock = 0x7FFFFFFF;
constexpr int32_t kLargestPiece = 32767;  // what a Stm's signed 16-bit count holds

// The encoder's chroma tables are indexed by the sum of two samples when
// chroma is blended from pixel pairs on a fast horizontal path.
bool UsesPairTables(const DCTState* state) {
  return state->blend != 0 && state->hFastMode != kHFastGeneral && state->maxHSamples >= 2;
}

int64_t ColorTableBytes(const DCTState* state, bool isEncoder) {
  if (state->colorTransform == kTransformNone) return 0;
  if (!isEncoder) return 2 * kColorTableBytes;
  return 3 * kColorTableBytes + 3 * (UsesPairTables(state) ? kPairColorTableBytes : kColorTableBytes);
}

void LayOutColorTables(DCTState* state, uint8_t* p, bool isEncoder) {
  if (state->colorTransform == kTransformNone) return;
  if (!isEncoder) {
    state->decCTTable[0] = reinterpret_cast<uint32_t*>(p);
    state->decCTTable[1] = reinterpret_cast<uint32_t*>(p + kColorTableBytes);
    return;
  }
  const int32_t chromaBytes = UsesPairTables(state) ? kPairColorTableBytes : kColorTableBytes;
  for (int i = 0; i < 6; i++) {
    state->encCTTable[i] = reinterpret_cast<uint32_t*>(p);
    p += i < 3 ? kColorTableBytes : chromaBytes;
  }
}

}  // namespace

int32_t DCTLinePieceBytes(int32_t lineBytes, int32_t colors, int32_t start) {
  const int32_t left = lineBytes - start;
  if (lineBytes <= kLargestPiece) return left;  // the line fits: one piece
  const int32_t piece = JPEG_LINE_PIECE_BYTES(colors > 0 ? colors : 1);
  return left < piece ? left : piece;
}

DCTState* DCTFirstInit() {
  auto* state = static_cast<DCTState*>(std::calloc(1, sizeof(DCTState)));
  if (state == nullptr) DCTStmErr0("Insufficient storage");
  return state;
}

int32_t DCTstrip_bytes(const DCTComponent* c, int32_t maxV) {
  if (c->hSamples <= 0) return 0;
  const int64_t rows = 7 * static_cast<int64_t>(c->vSamples) + maxV;
  return DCTceil4(static_cast<int32_t>(c->stripWidth * rows + 8));
}

void DCTallocate(DCTState* state, int32_t lineBytes, int32_t isEncoder) {
  const int64_t lineArea = DCTceil4(lineBytes + 3 * state->Colors + 8);
  const int64_t tableBytes = isEncoder ? kEncoderTableBytes : kDecoderTableBytes;
  int64_t size = lineArea + state->qTableCount * tableBytes;
  int64_t stripBytes[4] = {};
  for (int i = 0; i < state->Colors; i++) {
    stripBytes[i] = DCTstrip_bytes(&state->components[i], state->maxVSamples);
    size += stripBytes[i];
  }
  size += ColorTableBytes(state, isEncoder != 0) + kSpareBytes;
  uint8_t* block = size <= kLargestBlock ? static_cast<uint8_t*>(std::calloc(1, size)) : nullptr;
  if (block == nullptr) {
    DCTStmErr1("Cannot allocate %ld bytes", static_cast<int32_t>(size > kLargestBlock ? kLargestBlock : size));
  }
  state->stripMemory = block;
  state->stripMemoryBytes = static_cast<int32_t>(size);
  const auto owner = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(state));
  for (int i = 0; i < kOwnerWordBytes; i++) block[i] = static_cast<uint8_t>(owner >> (8 * i));
  uint8_t* p = block + kOwnerWordBytes;
  for (int k = 0; k < state->qTableCount; k++) {
    state->qTable[k] = reinterpret_cast<int32_t*>(p);
    p += kQuantTableBytes;
    if (isEncoder) {
      state->qThreshold[k] = reinterpret_cast<int32_t*>(p);
      p += kQuantTableBytes;
    }
  }
  for (int i = 0; i < state->Colors; i++) {
    DCTComponent* c = &state->components[i];
    c->strip = p;
    c->qTablePtr = state->qTable[c->qTableSel & 3];
    p += stripBytes[i];
  }
  LayOutColorTables(state, p, isEncoder != 0);
  p += ColorTableBytes(state, isEncoder != 0);
  state->lineBuffer = p + kSpareBytes;
}

JPEGFilterContext* DCTNewFilterContext(Stm* below) {
  auto* ctx = static_cast<JPEGFilterContext*>(std::calloc(1, sizeof(JPEGFilterContext)));
  if (ctx == nullptr) return nullptr;
  ctx->target = below;
  ctx->stm.procData = ctx;
  // Each filter runs one way; the open sets its own direction's procedure,
  // and the other one refuses instead of being a null call.
  ctx->stm.flsBuf = &StmRefuseFlush;
  ctx->stm.filBuf = &StmRefuseFill;
  return ctx;
}
