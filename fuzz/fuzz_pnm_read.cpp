// fuzz_pnm_read.cpp - libFuzzer target for jpegtool's PNM/PAM reader.
//
// Input: the bytes of a PNM file. The header is parsed and every line read
// until the image ends or the reader refuses the input with its one-line
// error; each line is read in full, so a sample written outside the line
// shows up under ASan.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pnm_io.h"
#include "tool_error.h"

namespace {

// Lines longer than this are refused by the codec anyway; the reader itself
// allocates one line, so the bound only keeps each run fast.
constexpr size_t kMaxLineBytes = size_t{1} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    jpegtool::ByteReader input(data, size, "fuzz");
    jpegtool::PnmReader reader(&input);
    const jpegtool::ImageShape& shape = reader.Shape();
    if (shape.LineBytes() > kMaxLineBytes) return 0;
    std::vector<uint8_t> line(shape.LineBytes());
    volatile uint8_t sum = 0;
    for (int y = 0; y < shape.height; ++y) {
      reader.ReadLine(line.data());
      for (uint8_t sample : line) sum = static_cast<uint8_t>(sum + sample);
    }
  } catch (const jpegtool::ToolError&) {
  }
  return 0;
}
