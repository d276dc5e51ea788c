// test_pnm_inputs.cpp - every PNM form the encoder takes gives the same JPEG
// as the 8-bit binary image it stands for, and that 8-bit image is what the
// system's cjpeg makes of the same file (its rounding of other MAXVALs).
#include "tool_runner.h"

namespace tool_test {
namespace {

// A 5x3 RGB image whose samples are spread over 0..maxval.
std::vector<long> Samples(long maxval, int colors) {
  std::vector<long> samples;
  for (int i = 0; i < 5 * 3 * colors; ++i) samples.push_back((i * 7919L + i * i) % (maxval + 1));
  return samples;
}

std::string Plain(char kind, long maxval, const std::vector<long>& samples) {
  std::string text = std::string("P") + kind + "\n# plain\n5 3\n" + std::to_string(maxval) + "\n";
  for (long s : samples) text += std::to_string(s) + (text.size() % 9 == 0 ? "\n" : " ");
  return text;
}

std::string Binary(const std::string& header, long maxval, const std::vector<long>& samples) {
  std::string bytes = header;
  for (long s : samples) {
    if (maxval > 255) bytes += static_cast<char>(s >> 8);
    bytes += static_cast<char>(s & 0xFF);
  }
  return bytes;
}

std::string Scaled8Bit(char kind, long maxval, const std::vector<long>& samples) {
  std::string bytes = std::string("P") + kind + "\n5 3\n255\n";
  for (long s : samples) bytes += static_cast<char>((s * 255 + maxval / 2) / maxval);
  return bytes;
}

struct Form {
  const char* name;
  char kind;  // the binary kind it stands for: '5' grey, '6' RGB
  long maxval;
  bool plain;
  bool pam;
};

const Form kForms[] = {
    {"PlainGrey", '5', 255, true, false},   {"PlainRgbMaxval15", '6', 15, true, false},
    {"BinaryGrey31", '5', 31, false, false}, {"BinaryRgb16Bit", '6', 65535, false, false},
    {"BinaryRgb1000", '6', 1000, false, false}, {"PamGrey16Bit", '5', 4095, false, true},
    {"Bilevel", '5', 1, false, false},
};

std::string MakeForm(const Form& form) {
  const int colors = form.kind == '5' ? 1 : 3;
  const std::vector<long> samples = Samples(form.maxval, colors);
  if (form.plain) return Plain(form.kind == '5' ? '2' : '3', form.maxval, samples);
  if (form.pam) {
    return Binary("P7\nWIDTH 5\nHEIGHT 3\nDEPTH 1\nMAXVAL " + std::to_string(form.maxval) +
                      "\n# comment\nTUPLTYPE GRAYSCALE\nENDHDR\n",
                  form.maxval, samples);
  }
  return Binary(std::string("P") + form.kind + " 5 3 " + std::to_string(form.maxval) + "\n", form.maxval,
                samples);
}

TEST(PnmInputs, EveryFormEncodesLikeItsEightBitImage) {
  for (const Form& form : kForms) {
    SCOPED_TRACE(form.name);
    TempDir dir;
    const std::vector<long> samples = Samples(form.maxval, form.kind == '5' ? 1 : 3);
    WriteText(dir.File("in.pnm"), MakeForm(form));
    WriteText(dir.File("eight.pnm"), Scaled8Bit(form.kind, form.maxval, samples));
    Ok({"encode", "--quality", "6", dir.File("in.pnm"), dir.File("a.jpg")});
    Ok({"encode", "--quality", "6", dir.File("eight.pnm"), dir.File("b.jpg")});
    EXPECT_EQ(ReadText(dir.File("a.jpg")), ReadText(dir.File("b.jpg")));
    // The system's converter rounds the samples the same way (PAM is ours alone).
    if (form.pam) continue;
    const std::string cjpeg = "cjpeg -quality 100 -sample 1x1 ";
    ASSERT_EQ(system((cjpeg + dir.File("in.pnm") + " >" + dir.File("c.jpg")).c_str()), 0);
    ASSERT_EQ(system((cjpeg + dir.File("eight.pnm") + " >" + dir.File("d.jpg")).c_str()), 0);
    EXPECT_EQ(ReadText(dir.File("c.jpg")), ReadText(dir.File("d.jpg")));
  }
}

}  // namespace
}  // namespace tool_test
