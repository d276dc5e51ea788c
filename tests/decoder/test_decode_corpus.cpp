// test_decode_corpus.cpp - replays the fuzzer's seed corpus and the inputs
// kept in crashes/ (each named after the fault it once exposed, or would
// expose in a decoder that trusted its input) through the decode filter,
// the way the fuzz target does: first byte = refill pattern, then the JPEG.
// Seeds must decode completely; crash inputs must end in a clean failure or
// a complete image, never in a crash (the sanitizer build checks that).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "decoder/decode_test_util.h"

namespace decoder_test {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  if (fs::is_directory(dir)) {
    for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The fuzz target's refill patterns, chosen by the input's first byte.
testing_support::MemSource::PieceFn PiecesFor(uint8_t p) {
  switch (p & 3) {
    case 0: return [](size_t) -> size_t { return 4096; };
    case 1: return [p](size_t) -> size_t { return (p >> 2) + 1; };
    case 2: return [p](size_t k) -> size_t { return k % 2 ? (p >> 2) + 1 : 1; };
    default: return [p](size_t k) -> size_t { return 1 + (k * 2654435761u + p) % 97; };
  }
}

DecodeResult Replay(const Bytes& input) {
  const Bytes jpeg(input.begin() + 1, input.end());
  return Decode(jpeg, PiecesFor(input[0]), static_cast<int16_t>(input[0] & 0x40 ? 100 : 0));
}

TEST(FuzzCorpus, SeedsDecodeCompletely) {
  const auto seeds = FilesIn(fs::path(JPEG_FUZZ_CORPUS_DIR) / "jpeg_decode");
  ASSERT_GE(seeds.size(), 5u);
  for (const fs::path& seed : seeds) {
    const DecodeResult r = Replay(testing_support::ReadFileBytes(seed.string()));
    EXPECT_TRUE(r.complete) << seed.filename() << ": " << r.message;
  }
}

TEST(CrashCorpus, EndsCleanly) {
  const auto inputs = FilesIn(fs::path(__FILE__).parent_path() / "crashes");
  ASSERT_GE(inputs.size(), 1u);
  for (const fs::path& input : inputs) {
    const Bytes bytes = testing_support::ReadFileBytes(input.string());
    ASSERT_FALSE(bytes.empty());
    const DecodeResult r = Replay(bytes);
    EXPECT_TRUE(r.complete || !r.message.empty()) << input.filename();
  }
}

}  // namespace
}  // namespace decoder_test
