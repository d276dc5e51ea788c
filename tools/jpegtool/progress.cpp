// progress.cpp - the progress line on a terminal's stderr.
#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace jpegtool {
namespace {

// Images below about one megapixel are coded in well under a second; a
// progress line would only flicker.
constexpr long long kLargeImagePixels = 1000000;

}  // namespace

Progress::Progress(const std::string& verb, long total, long long pixels, bool quiet)
    : verb_(verb),
      total_(total),
      enabled_(!quiet && pixels >= kLargeImagePixels && total > 0 && isatty(STDERR_FILENO) != 0) {}

Progress::~Progress() {
  if (enabled_ && shownPercent_ >= 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(verb_.size()) + 8, "");
}

void Progress::Update(long done) {
  if (!enabled_) return;
  const int percent = static_cast<int>(done * 100 / total_);
  if (percent == shownPercent_) return;
  shownPercent_ = percent;
  std::fprintf(stderr, "\r%s: %3d%%", verb_.c_str(), percent);
  std::fflush(stderr);
}

}  // namespace jpegtool
