// test_fuzz_replay.cpp - replays the seed corpus of each fuzz target and
// every input that once broke it (crashes/<target>/, each file named after
// what it broke) through the target's own code, so a fault that comes back
// fails here, and in the sanitizer build so does any memory error, leak or
// undefined behaviour on those inputs.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>

#include "support/test_support.h"

extern "C" int Fuzz_thumb_OneInput(const uint8_t* data, size_t size);
extern "C" int Fuzz_read_stream_OneInput(const uint8_t* data, size_t size);
extern "C" int Fuzz_encode_OneInput(const uint8_t* data, size_t size);
extern "C" int Fuzz_write_stream_OneInput(const uint8_t* data, size_t size);
extern "C" int Fuzz_parallel_decode_OneInput(const uint8_t* data, size_t size);
extern "C" int Fuzz_progressive_OneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

struct Target {
  const char* name;  // the corpus folder's name: fuzz/corpus/<name>, crashes/<name>
  int (*entry)(const uint8_t* data, size_t size);
};

void PrintTo(const Target& target, std::ostream* os) { *os << target.name; }

class FuzzReplay : public testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, SeedsAndCrashInputsPassTheTargetsChecks) {
  const Target target = GetParam();
  const fs::path folders[] = {fs::path(JPEG_FUZZ_CORPUS_DIR) / target.name,
                              fs::path(__FILE__).parent_path() / "crashes" / target.name};
  int seeds = 0;
  for (const fs::path& folder : folders) {
    if (!fs::is_directory(folder)) continue;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const testing_support::Bytes input = testing_support::ReadFileBytes(entry.path().string());
      try {
        target.entry(input.data(), input.size());
      } catch (const std::exception& e) {
        ADD_FAILURE() << entry.path() << ": " << e.what();
      }
      if (folder == folders[0]) seeds++;
    }
  }
  EXPECT_GT(seeds, 0) << "no seed corpus for " << target.name;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay,
                         testing::Values(Target{"thumb", Fuzz_thumb_OneInput},
                                         Target{"read_stream", Fuzz_read_stream_OneInput},
                                         Target{"encode", Fuzz_encode_OneInput},
                                         Target{"write_stream", Fuzz_write_stream_OneInput},
                                         Target{"parallel_decode", Fuzz_parallel_decode_OneInput},
                                         Target{"progressive", Fuzz_progressive_OneInput}),
                         [](const testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

}  // namespace
