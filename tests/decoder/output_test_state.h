// output_test_state.h - builds a decoder state by hand for the output-stage
// tests: geometry through DCTInitCommon, strip memory through DCTallocate,
// colour tables through DCTDInitCT. Optionally the component strips and the
// line buffer are moved into separate heap blocks of exactly the size the
// output stage may touch (8 x V strip rows, paddedLineSamples line bytes),
// so that the sanitizer build catches any access outside them.
#ifndef JPEG_TESTS_DECODER_OUTPUT_TEST_STATE_H
#define JPEG_TESTS_DECODER_OUTPUT_TEST_STATE_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dct/dctd.h"

namespace output_test {

struct Geometry {
  int colors = 3;
  int columns = 8;
  int transform = 0;  // colorTransform before DCTInitCommon resolves it
  int h[4] = {1, 1, 1, 1};
  int v[4] = {1, 1, 1, 1};
};

class LineState {
 public:
  LineState(const Geometry& g, bool exactBuffers) {
    st_ = DCTFirstInit();
    st_->Colors = g.colors;
    st_->outputColors = g.colors;
    st_->frameColors = static_cast<int16_t>(g.colors);
    st_->Columns = g.columns;
    st_->Rows = 64;
    st_->colorTransform = g.transform;
    st_->allowOversizedMCU = 1;
    for (int i = 0; i < g.colors; ++i) {
      st_->components[i].hSamples = g.h[i];
      st_->components[i].vSamples = g.v[i];
    }
    DCTInitCommon(st_, 0);
    st_->qTableCount = 1;
    DCTallocate(st_, st_->outputLineBytes, 0);
    if (st_->colorTransform != 0) DCTDInitCT(st_);
    if (exactBuffers) UseExactBuffers();
  }
  ~LineState() {
    DCTfree(st_);
    std::free(st_);
  }
  LineState(const LineState&) = delete;
  LineState& operator=(const LineState&) = delete;

  DCTState* st() { return st_; }
  int Rows(int comp) const { return 8 * st_->components[comp].vSamples; }
  int Width(int comp) const { return st_->components[comp].stripWidth; }
  uint8_t* Row(int comp, int row) { return st_->components[comp].strip + row * Width(comp); }
  int Pixels() const { return st_->paddedLineSamples / st_->Colors; }

  // Produces one line and returns its padded bytes.
  std::vector<uint8_t> Line(int blockLine, int subLine) {
    DCTPutNCLine(st_, blockLine, subLine);
    return std::vector<uint8_t>(st_->lineBuffer, st_->lineBuffer + st_->paddedLineSamples);
  }

  // All 8 x maxV lines of the strip, in the driver's order, concatenated.
  std::vector<uint8_t> Strip() {
    std::vector<uint8_t> all;
    for (int b = 0; b < 8; ++b) {
      for (int s = 0; s < st_->maxVSamples; ++s) {
        const auto line = Line(b, s);
        all.insert(all.end(), line.begin(), line.end());
      }
    }
    return all;
  }

  template <typename Fn>
  void FillStrips(Fn sample) {  // sample(comp, row, x) -> byte
    for (int i = 0; i < st_->Colors; ++i) {
      for (int r = 0; r < Rows(i); ++r) {
        for (int x = 0; x < Width(i); ++x) Row(i, r)[x] = static_cast<uint8_t>(sample(i, r, x));
      }
    }
  }

 private:
  void UseExactBuffers() {
    for (int i = 0; i < st_->Colors; ++i) {
      exactStrips_[i].assign(static_cast<size_t>(Rows(i)) * Width(i), 0);
      st_->components[i].strip = exactStrips_[i].data();
    }
    exactLine_.assign(static_cast<size_t>(st_->paddedLineSamples), 0);
    st_->lineBuffer = exactLine_.data();
    // DCTfree releases the block through stripMemory; the strip pointers it
    // clears are ours.
  }

  DCTState* st_ = nullptr;
  std::vector<uint8_t> exactStrips_[4];
  std::vector<uint8_t> exactLine_;
};

}  // namespace output_test

#endif
