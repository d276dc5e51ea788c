// jpeg_markers.h - the one home of the JPEG marker codes and of the
// application-segment identifiers this codec writes and recognises.
//
// A marker is 0xFF followed by a code byte (ITU-T T.81 Table B.1); the
// constants below are the code bytes. The encoder and decoder (encode/, decode/),
// and the host streams under host/ take their codes and
// identifiers from here rather than spelling them out. Constants and small
// constexpr tests only: the header depends on include/ alone and suits every
// layer above stream/.
#ifndef JPEG_CODEC_JPEG_MARKERS_H
#define JPEG_CODEC_JPEG_MARKERS_H

#include <cstdint>

#include "jpeg_marker_codes.h"

// --- marker codes (T.81 Table B.1) ------------------------------------------
// The values live in the installed header jpeg_marker_codes.h, so that the
// codec and the hosts that walk segments share one table.
constexpr int32_t kMarkerPrefix = JPEG_MARKER_PREFIX;  // the byte every marker starts with

constexpr int32_t kTEM = JPEG_MARKER_TEM;  // temporary private use (arithmetic coding), stands alone
// Start of frame: SOF0..SOF3 Huffman, SOF5..SOF7 differential Huffman,
// SOF9..SOF11 arithmetic, SOF13..SOF15 differential arithmetic. The codes
// between them (DHT, JPG, DAC) are not frames.
constexpr int32_t kSOF0 = JPEG_MARKER_SOF0;   // baseline
constexpr int32_t kSOF1 = JPEG_MARKER_SOF1;   // extended sequential, Huffman
constexpr int32_t kSOF2 = JPEG_MARKER_SOF2;   // progressive, Huffman
constexpr int32_t kSOF3 = JPEG_MARKER_SOF3;   // lossless, Huffman
constexpr int32_t kDHT = JPEG_MARKER_DHT;    // define Huffman tables
constexpr int32_t kJPG = JPEG_MARKER_JPG;    // reserved for extensions
constexpr int32_t kSOF9 = JPEG_MARKER_SOF9;   // extended sequential, arithmetic: the first arithmetic frame
constexpr int32_t kDAC = JPEG_MARKER_DAC;    // define arithmetic conditioning
constexpr int32_t kSOF15 = JPEG_MARKER_SOF15;  // the last frame code
constexpr int32_t kRST0 = JPEG_MARKER_RST0;   // restart markers RST0..RST7, numbered modulo 8
constexpr int32_t kRST7 = JPEG_MARKER_RST7;
constexpr int32_t kSOI = JPEG_MARKER_SOI;
constexpr int32_t kEOI = JPEG_MARKER_EOI;
constexpr int32_t kSOS = JPEG_MARKER_SOS;
constexpr int32_t kDQT = JPEG_MARKER_DQT;
constexpr int32_t kDNL = JPEG_MARKER_DNL;
constexpr int32_t kDRI = JPEG_MARKER_DRI;
constexpr int32_t kDHP = JPEG_MARKER_DHP;
constexpr int32_t kEXP = JPEG_MARKER_EXP;
constexpr int32_t kAPP0 = JPEG_MARKER_APP0;   // application segments APP0..APP15
constexpr int32_t kAPP13 = JPEG_MARKER_APP13;  // the host's resource segments
constexpr int32_t kAPP14 = JPEG_MARKER_APP14;  // the colour-transform segment
constexpr int32_t kAPP15 = JPEG_MARKER_APP15;
constexpr int32_t kJPG0 = JPEG_MARKER_JPG0;   // reserved for extensions JPG0..JPG13
constexpr int32_t kJPG13 = JPEG_MARKER_JPG13;
constexpr int32_t kCOM = JPEG_MARKER_COM;

// True when some byte of the word is the marker prefix 0xFF (some byte of
// the complement is 0): the entropy coders' test of eight data bytes at once.
constexpr bool JPEGHasMarkerPrefixByte(uint64_t word) {
  return ((~word - 0x0101010101010101ull) & word & 0x8080808080808080ull) != 0;
}

constexpr bool JPEGIsRST(int32_t code) { return code >= kRST0 && code <= kRST7; }
constexpr bool JPEGIsAPP(int32_t code) { return code >= kAPP0 && code <= kAPP15; }
constexpr bool JPEGIsSOF(int32_t code) {
  return code >= kSOF0 && code <= kSOF15 && code != kDHT && code != kJPG && code != kDAC;
}

// --- application-segment layouts ------------------------------------------
// The layouts are public (jpeg_marker_codes.h says what each is); these are
// the codec's names for them.
constexpr char kJFIFIdentifier[] = JPEG_JFIF_IDENTIFIER;
constexpr int32_t kJFIFIdentifierBytes = JPEG_JFIF_IDENTIFIER_BYTES;
constexpr int32_t kJFIFBodyBytes = JPEG_JFIF_BODY_BYTES;
constexpr char kColourSegmentIdentifier[] = JPEG_COLOUR_SEGMENT_IDENTIFIER;
constexpr int32_t kColourSegmentIdentifierBytes = JPEG_COLOUR_SEGMENT_IDENTIFIER_BYTES;
constexpr int32_t kColourSegmentBodyBytes = JPEG_COLOUR_SEGMENT_BODY_BYTES;
constexpr int32_t kColourSegmentVersionAt = JPEG_COLOUR_SEGMENT_VERSION_AT;
constexpr int32_t kColourSegmentFlags0At = JPEG_COLOUR_SEGMENT_FLAGS0_AT;
constexpr int32_t kColourSegmentFlags1At = JPEG_COLOUR_SEGMENT_FLAGS1_AT;
constexpr int32_t kColourSegmentTransformAt = JPEG_COLOUR_SEGMENT_TRANSFORM_AT;
constexpr char kOldResourceIdentifier[] = JPEG_OLD_RESOURCE_IDENTIFIER;
constexpr int32_t kOldResourceIdentifierBytes = JPEG_OLD_RESOURCE_IDENTIFIER_BYTES;
constexpr int32_t kOldResourceHeadBytes = JPEG_OLD_RESOURCE_HEAD_BYTES;
constexpr char kResolutionIdentifier[] = JPEG_RESOLUTION_IDENTIFIER;
constexpr int32_t kResolutionIdentifierBytes = JPEG_RESOLUTION_IDENTIFIER_BYTES;
constexpr int32_t kResolutionBodyBytes = JPEG_RESOLUTION_BODY_BYTES;
constexpr int32_t kResolutionAt = JPEG_RESOLUTION_AT;

// The current resource APP13 identifier, kJPEGResourceSignature, is part of
// the host interface (include/jpeg_stream.h).

#endif
