// test_fuzz_replay.cpp - replays the seed corpus of each fuzz target and
// every input that once broke it (crashes/<target>/, each file named after
// what it broke) through the fuzz harness (fuzz/fuzz_harness.h), so a fault
// that comes back fails here, and in the sanitizer build so does any memory
// error, leak or undefined behaviour on those inputs.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>

#include "fuzz_harness.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

struct Target {
  const char* name;  // the corpus folder's name: fuzz/corpus/<name>, crashes/<name>
  int (*entry)(const uint8_t* data, size_t size);
};

void PrintTo(const Target& target, std::ostream* os) { *os << target.name; }

class FuzzReplay : public testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, SeedsAndCrashInputsPassTheHarnessChecks) {
  const Target target = GetParam();
  const fs::path corpus = fs::path(JPEG_FUZZ_CORPUS_DIR) / target.name;
  int seeds = 0;
  for (const fs::path& folder : {corpus, fs::path(__FILE__).parent_path() / "crashes" / target.name}) {
    if (!fs::is_directory(folder)) continue;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const testing_support::Bytes input = testing_support::ReadFileBytes(entry.path().string());
      try {
        target.entry(input.data(), input.size());
      } catch (const std::exception& e) {
        ADD_FAILURE() << entry.path() << ": " << e.what();
      }
      seeds += folder == corpus;
    }
  }
  EXPECT_GT(seeds, 0) << "no seed corpus for " << target.name;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay,
                         testing::Values(Target{"decode", fuzz::Decode}, Target{"encode", fuzz::Encode},
                                         Target{"a85", fuzz::A85}, Target{"host", fuzz::Host}),
                         [](const testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

}  // namespace
