// jpeg_filter_query.cpp - the JPEG filters' answers to the layers above
// them (jpeg_filter_query.h), read from the filter context and codec state
// behind their streams.
#include "decode/jpeg_filter_query.h"

#include "decode/decoder.h"
#include "jpeg_filters.h"

namespace {

const JPEGFilterContext* ContextOf(const Stm* jpegStm) {
  return jpegStm != nullptr ? static_cast<const JPEGFilterContext*>(jpegStm->procData) : nullptr;
}

const DCTState* StateOf(const Stm* jpegStm) {
  const JPEGFilterContext* context = ContextOf(jpegStm);
  return context != nullptr ? context->state : nullptr;
}

}  // namespace

int32_t JPEGDLineBytes(const Stm* jpegStm) {
  const DCTState* state = StateOf(jpegStm);
  return state != nullptr && state->lineBuffer != nullptr ? state->outputLineBytes : 0;
}

void JPEGDLinePiece(const Stm* jpegStm, int32_t* start, int32_t* bytes) {
  const DCTState* state = StateOf(jpegStm);
  const bool lines = state != nullptr && state->lineBuffer != nullptr;
  *start = lines ? state->linePieceStart : 0;
  *bytes = lines ? state->linePieceBytes : 0;
}

int32_t JPEGDColors(const Stm* jpegStm) {
  const DCTState* state = StateOf(jpegStm);
  return state != nullptr ? state->outputColors : 0;
}

bool JPEGDEveryLineHandedOut(const Stm* jpegStm) {
  const DCTState* state = StateOf(jpegStm);
  return state != nullptr && DCTDEveryLineEmitted(state);
}

bool JPEGDFinishImage(Stm* jpegStm) {
  const DCTState* state = StateOf(jpegStm);
  if (state == nullptr || jpegStm->filBuf(jpegStm) == 0) return false;  // a line past the last
  return DCTDImageEnded(state);
}

bool JPEGDFilterFailed(const Stm* jpegStm) {
  const JPEGFilterContext* context = ContextOf(jpegStm);
  return context != nullptr && context->message[0] != '\0';
}

int32_t JPEGELineBytes(const Stm* jpegStm) {
  const DCTState* state = StateOf(jpegStm);
  return state != nullptr ? state->inputLineBytes : 0;
}
