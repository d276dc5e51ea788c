// entropy_decoder.cpp - where each scan's entropy decoder is chosen, the
// strip driver's one call through it, and the restart step the Huffman
// decoders share. The interface and its implementations are described in
// entropy_decoder.h.
#include "decode/entropy_decoder.h"

#include "codec/jpeg_markers.h"
#include "decode/decoder.h"

namespace {

constexpr int32_t kRestartNumbers = 8;  // RST0..RST7, in turn

// The entropy decoder of the scan in state->scan. The frame's kind was set
// by its SOFn marker (marker_parser.cpp); an arithmetic frame would choose
// its table here.
const DCTDEntropyDecoder* ChooseFor(const DCTState* state) {
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
