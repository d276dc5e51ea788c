/* jpeg_transcode.h - re-coding a JPEG file's entropy-coded data without
 * going through pixels: the smallest sequential coding of its coefficients
 * (Huffman tables built for the file), or a progressive one.
 *
 * JPEGOptimizeCoding reads the whole file at `data` (size bytes, a baseline,
 * extended-sequential or progressive Huffman JPEG as the decode filter reads
 * it), takes every quantized coefficient of every component, and writes to
 * `target` the same image coded anew:
 *  - SOI, then every segment before the first scan in file order (APPn,
 *    COM, DQT, the frame header) byte for byte, except the Huffman tables
 *    and DRI, then the APPn and COM segments found between later scans;
 *  - the frame header is the input's with its marker SOF0 (SOF1 when a
 *    quantization table has 16-bit entries), or SOF2 when progressive;
 *  - DRI (sequential: the input's restart interval, if any; progressive
 *    scans have none), then the scans, each after
 *    a DHT with the tables built for it, and EOI.
 * The coefficients, and so the pixels any decoder makes, are those of the
 * input (a progressive input that stops before its last refinement scans
 * keeps the precision it has). Nothing after the input's EOI is kept, and
 * of what follows a sequential image's last scan (which the decoder does not
 * read) only APPn segments other than APP0 and APP14, and COM, are kept.
 * Memory: the input, plus 128 bytes per 8 x 8 block of every component, twice
 * (the decoded store and the one re-coded). A DQT between scans is refused.
 *
 * Returns 0 on success; -1 with the reason in JPEGLastErrorMessage() (stm.h)
 * when the input is not a JPEG file this library decodes, memory runs out or
 * the target fails. target is written with StmFWrite and not closed; on a
 * failure, what was written to it is incomplete. Thread-safe: calls on
 * different data and targets may run at once. */
#ifndef JPEG_TRANSCODE_H
#define JPEG_TRANSCODE_H

#include <stddef.h>

#include "stm.h"

JPEG_EXTERN_C_BEGIN

typedef struct JPEGTranscodeOptions {
  uint8_t progressive; /* non-zero: a progressive frame, as JPEGEncodeOptions.progressive */
} JPEGTranscodeOptions;

/* options may be null: sequential. */
JPEG_API int32_t JPEGOptimizeCoding(const uint8_t* data, size_t size, Stm* target,
                                    const JPEGTranscodeOptions* options);

JPEG_EXTERN_C_END

#endif
