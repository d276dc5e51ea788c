// segment_layouts.h - the application segments `info` describes and
// `recompress` recognises, by the identifier at the start of their bodies and
// the offsets in them. The marker codes come from the installed header
// jpeg_marker_codes.h; these layouts are the tool's own reading of the
// segments the codec writes and of those others write.
#ifndef JPEGTOOL_SEGMENT_LAYOUTS_H
#define JPEGTOOL_SEGMENT_LAYOUTS_H

#include <cstdint>

namespace jpegtool {

// Each identifier is compared byte by byte at the start of a segment body;
// the byte counts say whether a terminating zero belongs to the identifier.

// JFIF APP0: "JFIF" and its zero, 5 bytes; a full segment body has 14 bytes
// (identifier, version 2, units 1, densities 2 + 2, thumbnail size 1 + 1).
constexpr char kJFIFIdentifier[] = "JFIF";
constexpr int32_t kJFIFIdentifierBytes = 5;
constexpr int32_t kJFIFBodyBytes = 14;
constexpr int32_t kJFIFUnitsAt = 7, kJFIFDensityAt = 8;

// The codec's colour-transform APP14: a five-byte identifier (no zero), the
// version and two flag words (big-endian), the transform byte; 12 body bytes.
constexpr char kColourSegmentIdentifier[] = "Orlyx";
constexpr int32_t kColourSegmentIdentifierBytes = 5;
constexpr int32_t kColourSegmentBodyBytes = 12;
constexpr int32_t kColourSegmentVersionAt = 5;
constexpr int32_t kColourSegmentFlags0At = 7;
constexpr int32_t kColourSegmentFlags1At = 9;
constexpr int32_t kColourSegmentTransformAt = 11;

// The old resource APP13: a 19-byte identifier (no zero), the resolution in
// 16.16 (4 bytes), 4 reserved bytes, then the resource data.
constexpr char kOldResourceIdentifier[] = "Orlyx_Imagerion2.5:";
constexpr int32_t kOldResourceIdentifierBytes = 19;
constexpr int32_t kOldResourceHeadBytes = 27;

// The resolution APP13: "Storm" and its zero, 6 bytes; 14 body bytes with
// the resolution in dots per inch at offset 10.
constexpr char kResolutionIdentifier[] = "Storm";
constexpr int32_t kResolutionIdentifierBytes = 6;
constexpr int32_t kResolutionBodyBytes = 14;
constexpr int32_t kResolutionAt = 10;

// The current resource APP13 identifier, kJPEGResourceSignature, is part of
// the host interface (jpeg_stream.h).

}  // namespace jpegtool

#endif
