// transcoder.h - the transcoder's internal procedures (the entry,
// JPEGOptimizeCoding, is in include/jpeg_transcode.h).
//
// transcoder.cpp decodes the input's coefficients (decode/, the coefficient
// store) into a coefficient image (encode/coefficient_image.h) and has the
// encoder's scan writer code it; segment_copier.cpp carries the input's
// segments over around the new scans.
#ifndef JPEG_TRANSCODE_TRANSCODER_H
#define JPEG_TRANSCODE_TRANSCODER_H

#include <cstddef>
#include <cstdint>

#include "stm.h"

// Writes SOI and the segments of the input that come before the new scans:
// those before its first scan but DHT and DRI (the frame header's marker
// turned to SOF2 when progressive, SOF1 when a quantization table has
// 16-bit entries, SOF0 otherwise), then the APPn and COM segments between
// later scans. A DQT after the first scan is refused. From readEnd on (the
// bytes the decoder never read) only COM and APPn segments other than APP0
// and APP14 are kept.
void DCTTCopySegments(const uint8_t* data, size_t size, size_t readEnd, Stm* target, int32_t progressive);

#endif
