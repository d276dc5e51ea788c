// jpeg_filter_query.h - what layers above the codec (host/) may ask of an
// open JPEG filter, by its stream alone, without seeing the codec state: of
// a decode filter, the lines it hands out (and which piece of a wide line
// stands at its base), its colours, whether every line is out, the end of
// the image, and whether the filter has failed; of an encode filter, the
// length of the image's lines. Also the decode filter's open with a
// user-segment hook, which the host's read stream uses.
//
// Every query takes the Stm that JPEGDOpen or JPEGDOpenHooked returned (a
// null stream answers 0 or false where noted). Implemented in
// jpeg_filter_query.cpp and jpeg_decode_filter.cpp; internal to the library.
#ifndef JPEG_DECODE_JPEG_FILTER_QUERY_H
#define JPEG_DECODE_JPEG_FILTER_QUERY_H

#include <cstdint>

#include "jpeg_segments.h"
#include "stm.h"

// JPEGDOpen with a user-segment hook for this filter alone: every APPn (but
// the colour-transform APP14) and COM segment goes to hook(hookData, ...).
// JPEGDOpen itself passes none, and such segments are dropped.
Stm* JPEGDOpenHooked(Stm* source, int16_t* width, int16_t* height, int16_t* colorCode,
                     JPEGSegmentHook hook, void* hookData);

// Bytes of one decoded raster line at the stream's base (0 when the filter
// has no line buffer, or for a null stream). Copies out of the line never go
// past this, whatever the caller believes the line's size to be.
int32_t JPEGDLineBytes(const Stm* jpegStm);
// Where in the line the bytes at the stream's base stand since the last
// fill: a line of more than 32767 bytes is handed out in consecutive pieces
// (jpeg_filters.h), one per fill; a shorter line is one piece at offset 0.
// Both 0 for a null stream or one without a line buffer.
void JPEGDLinePiece(const Stm* jpegStm, int32_t* start, int32_t* bytes);
// Components per pixel of those lines (0 when unknown, or for a null stream).
int32_t JPEGDColors(const Stm* jpegStm);
// True when the filter has handed out every line of its image.
bool JPEGDEveryLineHandedOut(const Stm* jpegStm);
// After the last line: reads on to the end of the image (the line buffer is
// released, so the last line must have been copied out). True when the data
// ends there cleanly, with EOI or simply at its end; false when what follows
// is a failure (the filter's message set, gJPEGError set), or for a null
// stream.
bool JPEGDFinishImage(Stm* jpegStm);
// True once a failure has landed in this filter: its message buffer, empty
// until then, holds the reason. Other filters, on this thread or others,
// never change the answer.
bool JPEGDFilterFailed(const Stm* jpegStm);

// Bytes of one raster line of the image an open encode filter codes (its
// buffer holds only a piece of a line wider than 32767 bytes); 0 for a null
// stream.
int32_t JPEGELineBytes(const Stm* jpegStm);

#endif
