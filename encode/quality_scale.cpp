// quality_scale.cpp - the familiar 1..100 quality scale mapped onto the
// encoder's QFactor (jpeg_options.h), so that a number users know from other
// encoders gives files of about the size and fidelity they expect.
//
// Other encoders scale their base tables by S = 5000/q percent below 50 and
// by S = 200 - 2q percent from 50 up (100: every step 1). Our bases and
// caps differ from theirs, so the same S is not the same file: measured on
// photographs, both with 2x2 chroma, QFactor = 1.45 x S/100 gives files a
// few per cent smaller at a slightly higher PSNR from quality 12 to 99
// (scripts/quality-table.sh). Below about 12 the caps hold our coarsest files
// near what others make at 10.
#include "jpeg_options.h"

namespace {

constexpr double kQFactorPerPercent = 0.0145;

}  // namespace

double JPEGQFactorForQuality(int32_t quality) {
  if (quality < 1) quality = 1;
  if (quality > 100) quality = 100;
  const double percent = quality < 50 ? 5000.0 / quality : 200.0 - 2.0 * quality;
  return percent * kQFactorPerPercent;
}
