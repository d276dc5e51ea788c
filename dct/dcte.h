// dcte.h - the encoder's internal procedures, from raster lines to JPEG bytes.
//
// The encode filter (jpeg_encode_filter.cpp) configures a DCTState and calls
// DCTEncodeOpen (dcte_setup.cpp); each complete raster line then goes to
// DCTEFlush (dcte_markers.cpp), which writes the header on the first line,
// moves lines into the component strips (dcte_strips.cpp), codes a strip of
// MCUs when one is complete (dcte_blocks.cpp, with the forward DCT of
// dcte_fdct.cpp and the bit writer of dcte_huff.cpp) and writes EOI after the
// last line. The default tables live in dcte_tables.cpp.
#ifndef JPEG_DCT_DCTE_H
#define JPEG_DCT_DCTE_H

#include <cstdint>

#include "dct/dct_state.h"

// --- default tables (dcte_tables.cpp) -----------------------------------------
extern const uint8_t qluma1[64];   // quantization bases, zigzag order
extern const uint8_t qkroma1[64];
extern const uint8_t qkroma2[64];
extern const uint8_t tluma1[64];   // quantizer caps, zigzag order
extern const uint8_t tkroma1[64];
extern const uint8_t dtsbits[8][28]; // DC specifications: BITS[16] + HUFFVAL[12]
extern const uint8_t atsL0[], atsC0[], atsL1[], atsC1[], atsL2[], atsC2[], atsL3[], atsC3[],
    atsL4[], atsC4[];              // AC specifications: BITS[16] + HUFFVAL
extern const uint8_t* atsptrs[10]; // filled by DCTEncodeOpen
extern const int32_t atsLen[10];   // 16 + symbol count of each

// --- bit output and Huffman code tables (dcte_huff.cpp) ------------------------
void DCTEinit_sputv(DCTState* state);
void DCTEmdusputv(DCTState* state, uint32_t value, int32_t n);
void DCTEsput8(DCTState* state, int32_t byte);
void DCTEsput16(DCTState* state, int32_t value);
void DCTEsputmarker(DCTState* state, int32_t code);
void DCTEclose_sput(DCTState* state);
void DCTEmake_huffenc(DCTState* state, const uint8_t* spec, uint16_t* code, uint8_t* length,
                      int32_t isAC);

// --- input strips (dcte_strips.cpp) ---------------------------------------------
void DCTEInitCT(DCTState* state);
void DCTEGetNCLine(DCTState* state);
void DCTEFixRightBot(uint8_t* line, DCTComponent* comp, DCTState* state, int32_t lastLineOfGroup);
uint8_t* DCTEPointStrip(const DCTComponent* comp, int32_t subLine, int32_t group);
void DCTEget_ovflines(DCTState* state);

// --- set-up (dcte_setup.cpp) ------------------------------------------------------
void DCTEncodeOpen(DCTState* state);

// --- forward DCT (dcte_fdct.cpp) --------------------------------------------------
extern const uint32_t DCTEQScale[64];  // AAN output scale factors, natural order
void DCTEScaleQT(DCTState* state);
void DCTTransform(DCTState* state, int32_t* coef, const uint8_t* samples, const DCTComponent* comp);

// --- block coder (dcte_blocks.cpp) ------------------------------------------------
extern const uint8_t DCTmagnitof[64];
void DCTEcodeStrip(DCTState* state, int32_t firstLine);

// --- marker segments and the per-line driver (dcte_markers.cpp) ------------------
int32_t DCTEFlush(DCTState* state);

#endif
