// decoded_lines.cpp - what the host layer asks an open decode filter about
// the lines it delivers, so that copies out of the filter's line buffer never
// run past the decoded line, whatever the caller believes its size to be;
// and the end of an image, which every host path checks the same way.
#include "dct/dctd.h"
#include "host/host_internal.h"
#include "jpeg_filters.h"

namespace {

const DCTState* StateOf(const Stm* jpegStm) {
  if (jpegStm == nullptr) return nullptr;
  const auto* context = static_cast<const JPEGFilterContext*>(jpegStm->procData);
  return context ? context->state : nullptr;
}

}  // namespace

int32_t DecodedLineBytes(const Stm* jpegStm) {
  const DCTState* state = StateOf(jpegStm);
  return state && state->lineBuffer ? state->outputLineBytes : 0;
}

int32_t DecodedColors(const Stm* jpegStm) {
  const DCTState* state = StateOf(jpegStm);
  return state ? state->outputColors : 0;
}

int16_t ColorsForCode(int16_t colorCode, const Stm* jpegStm) {
  switch (colorCode) {
    case 0: return 3;
    case 1: return 4;
    case 2: return 1;
    default: return static_cast<int16_t>(DecodedColors(jpegStm));
  }
}

bool DecodedEveryLine(const Stm* jpegStm) {
  const DCTState* state = StateOf(jpegStm);
  return state != nullptr && DCTDEveryLineEmitted(state);
}

bool FinishDecodedImage(Stm* jpegStm) {
  const DCTState* state = StateOf(jpegStm);
  if (state == nullptr || jpegStm->filBuf(jpegStm) == 0) return false;  // a line past the last
  return DCTDImageEnded(state);
}
