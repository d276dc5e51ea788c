// decoded_lines.cpp - the colour count the host layer reports for a decode
// filter's colour code. Everything else the host asks of an open decode
// filter (line bytes, every line handed out, the end of the image, failure)
// the filter answers itself through decode/jpeg_filter_query.h.
#include "decode/jpeg_filter_query.h"
#include "host/host_internal.h"

int16_t ColorsForCode(int16_t colorCode, const Stm* jpegStm) {
  switch (colorCode) {
    case 0: return 3;
    case 1: return 4;
    case 2: return 1;
    default: return static_cast<int16_t>(JPEGDColors(jpegStm));
  }
}
