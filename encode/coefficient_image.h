// coefficient_image.h - a whole image of quantized coefficients, and the
// coders that write it with Huffman tables built for it.
//
// Tables built for an image (optimized tables) and progressive scans both
// need every quantized coefficient before the first code is written: the
// tables come from counting the symbols of every block, and a progressive
// scan codes one band or bit of every block before the next scan begins.
// So in those modes the strip coder (block_coder.cpp) hands each complete
// strip to DCTEBufferStrip (coefficient_buffer.cpp), which transforms and
// quantizes its blocks exactly as the one-pass coder does and keeps them;
// after the last strip DCTEWriteBufferedImage (scan_writer.cpp) writes the
// tables and scans, each scan counted first (huffman_optimizer.cpp) and
// then coded (scan_coder.cpp). The transcoder (transcode/) fills the same
// record from a decoded file's coefficients and writes it the same way.
//
// Memory: 128 bytes (64 16-bit coefficients) per 8 x 8 block of every
// component, MCU-padded, held until the image is written: 6 bytes per pixel
// with full-resolution chroma, 3 with 2 x 2 subsampled chroma (a 12
// megapixel photograph: 72 or 36 MB). It is allocated when the header is
// written and freed with the strip memory (releaseWork). Nothing of this
// runs, or is allocated, in the default mode.
#ifndef JPEG_ENCODE_COEFFICIENT_IMAGE_H
#define JPEG_ENCODE_COEFFICIENT_IMAGE_H

#include <cstddef>
#include <cstdint>

#include "codec/codec_state.h"

constexpr int32_t kDCTEBlockCoefs = 64;

// One component's blocks: a grid of blocksWide x blocksHigh blocks, row by
// row, 64 coefficients each in zigzag order. The grid is MCU-padded
// (interleaved scans code whole MCUs); a scan of this component alone codes
// codedWide x codedHigh of them, the blocks that hold samples.
struct DCTECoefPlane {
  int32_t h, v;                   // sampling factors
  int32_t blocksWide, blocksHigh; // the grid
  int32_t codedWide, codedHigh;   // ceil(component width / 8), likewise height
  int32_t id;                     // component identifier written in SOF and SOS
  int32_t tableSlot;              // Huffman table slot: 0 luminance (and K), 1 chrominance
  int16_t* blocks;                // blocksWide x blocksHigh x 64
  int32_t lastDC;                 // DCTEBufferStrip: the DC of the last block stored
};

struct DCTECoefImage {
  int32_t colors;           // components, 1..4
  int32_t mcusPerRow, mcuRows;
  int32_t restartInterval;  // MCUs per restart interval in every scan; 0 none
  DCTECoefPlane plane[4];
};

// One scan of a script: the components (plane indices), the band Ss..Se in
// zigzag positions and the bit positions Ah, Al (0, 63, 0, 0: sequential).
struct DCTEScan {
  int32_t count;
  int32_t planes[4];
  int32_t ss, se, ah, al;
};

// --- the image (coefficient_buffer.cpp) ---------------------------------------------
// Allocates the planes from the encoder state's geometry (after set-up,
// before the first strip) and makes DCTfree release them.
void DCTEBeginCoefImage(DCTState* state);
// Grid set-up of a plane whose h and v are set, in an image of the given
// size and Hmax x Vmax: its coded extent, and a zeroed grid of blocksWide x
// blocksHigh blocks (the "Cannot allocate" failure when memory runs out).
void DCTESetupPlane(DCTECoefPlane* plane, int32_t columns, int32_t rows, int32_t maxH,
                    int32_t maxV, int32_t blocksWide, int32_t blocksHigh);
// Transforms, quantizes and stores the blocks of the strip that begins at
// raster line firstLine (instead of coding them).
void DCTEBufferStrip(DCTState* state, int32_t firstLine);
// Block (bx, by) of a plane.
inline int16_t* DCTECoefBlock(const DCTECoefPlane* plane, int32_t bx, int32_t by) {
  return plane->blocks +
         (static_cast<std::size_t>(by) * static_cast<std::size_t>(plane->blocksWide) + static_cast<std::size_t>(bx)) *
             kDCTEBlockCoefs;
}

// --- Huffman tables built for the data (huffman_optimizer.cpp) ------------------------
// One table: the symbol counts of a counting pass, then the code lengths
// (at most 16 bits, no code of all 1-bits) and the canonical codes.
struct DCTEOptTable {
  uint32_t freq[256];
  uint8_t bits[16];     // codes of length 1..16, as in DHT
  uint8_t values[256];  // the symbols by increasing code length, as in DHT
  int32_t count;        // symbols with a code
  uint16_t code[256];   // by symbol
  uint8_t size[256];    // code length by symbol; 0 = none
};
// bits, values, code and size from freq. A table whose symbols were never
// counted gets one code (for symbol 0), so that its DHT is well formed.
void DCTEBuildOptTable(DCTEOptTable* table);

// --- coding one scan (scan_coder.cpp) ------------------------------------------------
// A scan is coded twice: first counting the symbols into its tables (no
// output), then writing the codes through the bit output of `state`.
// Restart markers follow the image's restart interval.
struct DCTEScanCoder {
  DCTState* state;     // its target and bit output receive the codes
  int32_t counting;    // 1: count symbols into the tables; 0: write codes
  DCTEOptTable* dc[4]; // tables of scan component j (DC scans)
  DCTEOptTable* ac[4]; // (AC scans: entry 0)
  uint64_t rawBits;    // counting: bits written outside the codes (magnitudes, corrections)
};
void DCTECodeScan(DCTEScanCoder* coder, const DCTECoefImage* image, const DCTEScan* scan);

// --- writing the image (scan_writer.cpp) --------------------------------------------
// The scans of the image with their tables and EOI-less trailer: one
// sequential scan with tables built for it, or (progressive) the scan
// script, each scan with its own tables. Header segments up to the frame
// header are written already; the bit output is empty.
void DCTEWriteCoefImage(DCTState* state, const DCTECoefImage* image, int32_t progressive);
// The encoder's buffered image, after its last strip.
void DCTEWriteBufferedImage(DCTState* state);

#endif
