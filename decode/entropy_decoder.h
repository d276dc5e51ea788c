// entropy_decoder.h - the decoder's one entropy-decoder interface: a small
// table of procedures that turns a scan's entropy-coded data into
// coefficients, chosen at each scan header.
//
// Who fills it: each kind of entropy coding fills one DCTDEntropyDecoder
// (or a few, one per kind of scan) in its own file:
//   huffman_sequential.cpp   kDCTDHuffmanSequential (baseline and extended)
//   huffman_progressive.cpp  DCTDHuffmanProgressive() (four tables: DC first,
//                            DC refinement, AC first, AC refinement)
// Both share the bit reader and symbol look-ups of huffman_reader.h.
//
// Who chooses it: DCTDStartEntropyDecoder (entropy_decoder.cpp), called by
// the marker parser once a scan header is read, stores the table in
// state->entropy and runs its startScan.
//
// Who calls it: the strip driver (DCTDdecodeStrip, for an image coded in one
// interleaved sequential scan), the coefficient store's scan walkers
// (coefficient_store.cpp) and the strip workers (parallel_decode.cpp, through
// DCTDdecodeStrip). None of them asks which kind of scan runs. The calls are
// coarse: one per strip (MCU row), per run of MCUs or per run of blocks of
// one component; the block loops, with the bit reader in locals, live inside
// the procedures.
//
// Adding arithmetic decoding: fill a table in decode/arithmetic_decoder.cpp
// (startScan initialises the statistics and the code register, restart resets
// them), choose it in DCTDStartEntropyDecoder for an arithmetic frame, and
// let the marker parser accept SOF9..SOF11 and DAC segments; today those
// markers are refused there as "Non-baseline or invalid marker code".
#ifndef JPEG_DECODE_ENTROPY_DECODER_H
#define JPEG_DECODE_ENTROPY_DECODER_H

#include <cstdint>

#include "codec/codec_state.h"

// One block of each MCU of an interleaved scan, for the coefficient store:
// its component and its 64 slots in the next MCU to decode; each MCU
// decoded moves `coefs` on by `step` slots (the component's H blocks).
struct DCTDMcuBlock {
  DCTComponent* comp;
  int16_t* coefs;
  int32_t step;
};

struct DCTDEntropyDecoder {
  // After the scan header (state->scan) and the scan's set-up: readies the
  // decoder's own per-scan state.
  void (*startScan)(DCTState* state);
  // One strip of an image coded in one interleaved scan (an MCU row, or up
  // to V block rows of a one-component image) into the component strips,
  // dequantized and inverse-transformed, restart markers included. Null
  // for kinds whose images always go through the coefficient store.
  void (*decodeStrip)(DCTState* state);
  // `count` consecutive blocks of one component into 64-coefficient slots
  // from `coefs` (natural order, not dequantized), for the coefficient
  // store; the slots hold what earlier scans left (zeros at first).
  void (*decodeBlocks)(DCTState* state, DCTComponent* comp, int16_t* coefs, int32_t count);
  // `mcuCount` MCUs of an interleaved scan into the coefficient store, the
  // blocks of one MCU listed in coding order (moved on past the MCUs on
  // return), with no restart marker among them. Null for kinds that leave
  // such scans to decodeBlocks, one call per block row of an MCU.
  void (*decodeMcus)(DCTState* state, DCTDMcuBlock* blocks, int32_t blockCount, int32_t mcuCount);
  // The restart step before each MCU of a scan with a restart interval:
  // counts the MCU and, when a marker is due, reads it and resets the
  // decoder's predictions.
  void (*restart)(DCTState* state);
};

// Chooses the entropy decoder of the scan just read and starts it.
void DCTDStartEntropyDecoder(DCTState* state);

// Shared by the Huffman decoders (entropy_decoder.cpp): counts one MCU
// against the restart interval; when the interval is over, resets the DC
// predictions and reads the RSTn marker (any other marker, or the end of
// the data, is the truncation error).
void DCTDRestartStep(DCTState* state);

// The implementations.
// huffman_sequential.cpp: the table of every sequential scan.
extern const DCTDEntropyDecoder kDCTDHuffmanSequential;
extern const DCTDEntropyDecoder kDCTDHuffmanSequentialBitOps;  // its build for the bit instructions
// huffman_progressive.cpp: the table of the progressive scan `scan`.
const DCTDEntropyDecoder* DCTDHuffmanProgressive(const DCTDScanInfo& scan);
const DCTDEntropyDecoder* DCTDHuffmanProgressiveBitOps(const DCTDScanInfo& scan);

#endif
