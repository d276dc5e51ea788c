/* jpeg_marker_codes.h - the JPEG marker codes, for hosts that walk the
 * segments of a file themselves (to list them, to find a frame header, to
 * copy segments between files).
 *
 * A marker is the byte JPEG_MARKER_PREFIX followed by a code byte; the
 * constants below are the code bytes. Every marker but the stand-alone ones
 * (SOI, EOI, TEM, RST0..RST7) is followed by a big-endian 16-bit length that
 * counts itself and the segment body. Any number of JPEG_MARKER_PREFIX fill
 * bytes may stand before a marker; inside entropy-coded data a 0xFF data byte
 * is followed by a 0x00 stuffing byte, which is no marker.
 *
 * The segment hook of jpeg_segments.h gets the APPn and COM codes, and the
 * segments handed to the encode filter in JPEGEncodeParams.markerData start
 * with JPEG_MARKER_PREFIX and one of them. Plain preprocessor constants: the
 * header declares no functions and suits C and C++. */
#ifndef JPEG_MARKER_CODES_H
#define JPEG_MARKER_CODES_H

#define JPEG_MARKER_PREFIX 0xFF /* the byte every marker starts with */

#define JPEG_MARKER_TEM 0x01 /* temporary private use, stands alone */
/* Start of frame: SOF0..SOF3 Huffman, SOF5..SOF7 differential Huffman,
 * SOF9..SOF11 arithmetic, SOF13..SOF15 differential arithmetic. The codes
 * between them (DHT, JPG, DAC) are not frames. */
#define JPEG_MARKER_SOF0 0xC0  /* baseline */
#define JPEG_MARKER_SOF1 0xC1  /* extended sequential, Huffman */
#define JPEG_MARKER_SOF2 0xC2  /* progressive, Huffman */
#define JPEG_MARKER_SOF3 0xC3  /* lossless, Huffman */
#define JPEG_MARKER_DHT 0xC4   /* define Huffman tables */
#define JPEG_MARKER_JPG 0xC8   /* reserved for extensions */
#define JPEG_MARKER_SOF9 0xC9  /* extended sequential, arithmetic: the first arithmetic frame */
#define JPEG_MARKER_DAC 0xCC   /* define arithmetic conditioning */
#define JPEG_MARKER_SOF15 0xCF /* the last frame code */
#define JPEG_MARKER_RST0 0xD0  /* restart markers RST0..RST7, numbered modulo 8 */
#define JPEG_MARKER_RST7 0xD7
#define JPEG_MARKER_SOI 0xD8 /* start of image */
#define JPEG_MARKER_EOI 0xD9 /* end of image */
#define JPEG_MARKER_SOS 0xDA /* start of scan: entropy-coded data follows the segment */
#define JPEG_MARKER_DQT 0xDB /* define quantization tables */
#define JPEG_MARKER_DNL 0xDC /* define number of lines */
#define JPEG_MARKER_DRI 0xDD /* define restart interval */
#define JPEG_MARKER_DHP 0xDE /* define hierarchical progression */
#define JPEG_MARKER_EXP 0xDF /* expand reference components */
#define JPEG_MARKER_APP0 0xE0  /* application segments APP0..APP15 */
#define JPEG_MARKER_APP13 0xED /* the host's resource segments */
#define JPEG_MARKER_APP14 0xEE /* the colour-transform segment */
#define JPEG_MARKER_APP15 0xEF
#define JPEG_MARKER_JPG0 0xF0 /* reserved for extensions JPG0..JPG13 */
#define JPEG_MARKER_JPG13 0xFD
#define JPEG_MARKER_COM 0xFE /* comment */

/* Classes of codes (each evaluates its argument more than once). */
#define JPEG_MARKER_IS_RST(code) ((code) >= JPEG_MARKER_RST0 && (code) <= JPEG_MARKER_RST7)
#define JPEG_MARKER_IS_APP(code) ((code) >= JPEG_MARKER_APP0 && (code) <= JPEG_MARKER_APP15)
#define JPEG_MARKER_IS_SOF(code)                                                             \
  ((code) >= JPEG_MARKER_SOF0 && (code) <= JPEG_MARKER_SOF15 && (code) != JPEG_MARKER_DHT && \
   (code) != JPEG_MARKER_JPG && (code) != JPEG_MARKER_DAC)

/* The application segments this codec writes and reads, for hosts that
 * recognise them (through the segment hook, or walking a file): each
 * identifier is compared byte by byte at the start of the segment body, and
 * the byte counts say whether a terminating zero belongs to it. Offsets are
 * into the body (after the length field); numbers in it are big-endian. */
/* JFIF APP0: "JFIF" and its zero; version 2 bytes, units 1 (1 dots per inch,
 * 2 per centimetre), densities 2 + 2, thumbnail size 1 + 1: 14 bytes. */
#define JPEG_JFIF_IDENTIFIER "JFIF"
#define JPEG_JFIF_IDENTIFIER_BYTES 5
#define JPEG_JFIF_BODY_BYTES 14
#define JPEG_JFIF_UNITS_AT 7
#define JPEG_JFIF_DENSITY_AT 8
/* The colour-transform APP14 this codec writes: a five-byte identifier (no
 * zero), the version and two flag words, the transform byte: 12 bytes. Other
 * encoders write the same layout under an identifier of their own. */
#define JPEG_COLOUR_SEGMENT_IDENTIFIER "Orlyx"
#define JPEG_COLOUR_SEGMENT_IDENTIFIER_BYTES 5
#define JPEG_COLOUR_SEGMENT_BODY_BYTES 12
#define JPEG_COLOUR_SEGMENT_VERSION_AT 5
#define JPEG_COLOUR_SEGMENT_FLAGS0_AT 7
#define JPEG_COLOUR_SEGMENT_FLAGS1_AT 9
#define JPEG_COLOUR_SEGMENT_TRANSFORM_AT 11
/* The old resource APP13: a 19-byte identifier (no zero), the resolution in
 * 16.16 (4 bytes), 4 reserved bytes, then the resource data. */
#define JPEG_OLD_RESOURCE_IDENTIFIER "Orlyx_Imagerion2.5:"
#define JPEG_OLD_RESOURCE_IDENTIFIER_BYTES 19
#define JPEG_OLD_RESOURCE_HEAD_BYTES 27
/* The resolution APP13: "Storm" and its zero; 14 bytes, the resolution in
 * dots per inch (16 bits) at offset 10. */
#define JPEG_RESOLUTION_IDENTIFIER "Storm"
#define JPEG_RESOLUTION_IDENTIFIER_BYTES 6
#define JPEG_RESOLUTION_BODY_BYTES 14
#define JPEG_RESOLUTION_AT 10

#endif
