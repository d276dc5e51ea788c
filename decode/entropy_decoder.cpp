// entropy_decoder.cpp - where each scan's entropy decoder is chosen, the
// strip driver's one call through it, and the restart step the Huffman
// decoders share. The interface and its implementations are described in
// entropy_decoder.h.
#include "decode/entropy_decoder.h"

#include "codec/jpeg_markers.h"
#include "decode/decoder.h"
#include "simd/kernels.h"

namespace {

constexpr int32_t kRestartNumbers = 8;  // RST0..RST7, in turn

// The entropy decoder of the scan in state->scan. The frame's kind was set
// by its SOFn marker (marker_parser.cpp); an arithmetic frame would choose
// its table here. Where the CPU has the bit instructions, the Huffman
// decoders' build for them runs (DCTUseBitOpCoders).
const DCTDEntropyDecoder* ChooseFor(const DCTState* state) {
#if defined(JPEG_HAVE_BITOP_CODERS)
  if (DCTUseBitOpCoders())
    return state->progressive == 0 ? &kDCTDHuffmanSequentialBitOps : DCTDHuffmanProgressiveBitOps(state->scan);
#endif
  if (state->progressive == 0) return &kDCTDHuffmanSequential;
  return DCTDHuffmanProgressive(state->scan);
}

}  // namespace

void DCTDStartEntropyDecoder(DCTState* state) {
  state->entropy = ChooseFor(state);
  state->entropy->startScan(state);
}

void DCTDdecodeStrip(DCTState* state) { state->entropy->decodeStrip(state); }

void DCTDRestartStep(DCTState* state) {
  if (--state->restartCountdown > 0) return;
  state->restartCountdown = state->restartInterval;
  DCTreset_dc(state);
  const int32_t code = DCTDNextMarker(state);  // drops the interval's unread bits
  // Only the marker's kind is checked, not its number: a wrong RSTn is
  // accepted. Any other marker means the scan's data ended early.
  if (!JPEGIsRST(code)) DCTDTruncateError(state, code);
  state->restartMarkerNumber = (state->restartMarkerNumber + 1) & (kRestartNumbers - 1);
}
