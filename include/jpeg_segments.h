/* jpeg_segments.h - reading every application (APPn) and comment (COM)
 * segment of a JPEG file while the decode filter parses it.
 *
 * JPEGDOpen drops the segments it does not use itself. A caller who wants
 * them (EXIF, XMP, ICC profile chunks, comments, its own resource data)
 * opens the decode filter with JPEGDOpenWithSegments instead: the same open
 * as JPEGDOpen (jpeg_filters.h), plus a hook of this filter alone that
 * receives each such segment, in file order, as the parser meets it.
 *
 * What reaches the hook: every APPn segment (APP0..APP15, JFIF included)
 * and every COM segment, except the colour-transform APP14 segment that the
 * encode filter writes itself (the decoder consumes it). The hook gets
 * `marker` (0xE0..0xEF for APPn, 0xFE for COM), the segment body (what
 * follows its two length bytes) and the body's length (0..65533). The body
 * is the decoder's copy, valid only during the call; copy what you keep.
 *
 * When it runs: inside JPEGDOpenWithSegments for the segments ahead of the
 * first scan, and inside JPEGDFilBuf for any between later scans. It runs on
 * the thread that called that entry, below the filter's error jump: it must
 * return normally (no longjmp, no C++ exception out of it) and must not call
 * the filter it belongs to. hookData is passed through untouched; it must
 * stay valid until the filter is closed. A null hook makes the open behave
 * exactly like JPEGDOpen.
 *
 * To write such segments, give the encode filter ready-made segments in
 * JPEGEncodeParams.markerData (jpeg_filters.h): marker, two length bytes
 * (big-endian, counting themselves) and the body, one after the other. */
#ifndef JPEG_SEGMENTS_H
#define JPEG_SEGMENTS_H

#include "jpeg_filters.h"

JPEG_EXTERN_C_BEGIN

typedef void (*JPEGSegmentHook)(void* hookData, char* body, uint16_t marker, uint16_t length);

JPEG_API Stm* JPEGDOpenWithSegments(Stm* source, int16_t* width, int16_t* height, int16_t* colorCode,
                                    JPEGSegmentHook hook, void* hookData);

JPEG_EXTERN_C_END

#endif
