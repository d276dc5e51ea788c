// quality_scale.cpp - the familiar 1..100 quality scale mapped onto the
// encoder's QFactor (jpeg_options.h), so that a number users know from other
// encoders gives files of about the size and fidelity they expect.
#include "jpeg_options.h"

double JPEGQFactorForQuality(int32_t quality) {
  if (quality < 1) quality = 1;
  if (quality > 100) quality = 100;
  // Other encoders scale their base tables by 5000/q percent below 50 and
  // by 200 - 2q percent above it.
  const double percent = quality < 50 ? 5000.0 / quality : 200.0 - 2.0 * quality;
  return percent / 100.0;
}
