// test_pnm_inputs.cpp - every PNM form the encoder takes gives the same JPEG
// as the 8-bit binary image it stands for, and that 8-bit image is what the
// system's cjpeg makes of the same file (its rounding of other MAXVALs).
#include "tool_runner.h"

namespace tool_test {
namespace {

struct Form {
  const char* name;
  char kind;  // the binary kind it stands for: '5' grey, '6' RGB
  long maxval;
  char form;  // 'p' plain, 'b' binary, 'a' PAM
};

const Form kForms[] = {{"PlainGrey", '5', 255, 'p'},       {"PlainRgbMaxval15", '6', 15, 'p'},
                       {"BinaryGrey31", '5', 31, 'b'},     {"BinaryRgb16Bit", '6', 65535, 'b'},
                       {"BinaryRgb1000", '6', 1000, 'b'},  {"PamGrey16Bit", '5', 4095, 'a'},
                       {"Bilevel", '5', 1, 'b'}};

// The 5x3 image in form f, its samples spread over 0..maxval, and as the
// 8-bit binary image it stands for.
std::pair<std::string, std::string> MakeForm(const Form& f) {
  const std::string size = "5 3 ", max = std::to_string(f.maxval);
  std::string in = f.form == 'p'   ? std::string("P") + (f.kind == '5' ? '2' : '3') + "\n# plain\n" + size + max + "\n"
                   : f.form == 'a' ? "P7\nWIDTH 5\nHEIGHT 3\nDEPTH 1\nMAXVAL " + max + "\n# comment\nTUPLTYPE GRAYSCALE\nENDHDR\n"
                                   : std::string("P") + f.kind + " " + size + max + "\n";
  std::string eight = std::string("P") + f.kind + "\n5 3\n255\n";
  for (int i = 0; i < 5 * 3 * (f.kind == '5' ? 1 : 3); ++i) {
    const long s = (i * 7919L + i * i) % (f.maxval + 1);
    if (f.form == 'p') in += std::to_string(s) + (in.size() % 9 == 0 ? "\n" : " ");
    if (f.form != 'p' && f.maxval > 255) in += static_cast<char>(s >> 8);
    if (f.form != 'p') in += static_cast<char>(s & 0xFF);
    eight += static_cast<char>((s * 255 + f.maxval / 2) / f.maxval);
  }
  return {in, eight};
}

TEST(PnmInputs, EveryFormEncodesLikeItsEightBitImage) {
  for (const Form& form : kForms) {
    SCOPED_TRACE(form.name);
    TempDir dir;
    const auto [in, eight] = MakeForm(form);
    WriteText(dir.File("in.pnm"), in);
    WriteText(dir.File("eight.pnm"), eight);
    Ok({"encode", "--level", "6", dir.File("in.pnm"), dir.File("a.jpg")});
    Ok({"encode", "--level", "6", dir.File("eight.pnm"), dir.File("b.jpg")});
    EXPECT_EQ(ReadText(dir.File("a.jpg")), ReadText(dir.File("b.jpg")));
    if (form.form == 'a') continue;  // the system's converter rounds the same way (PAM is ours alone)
    for (const char* f : {"in", "eight"})
      ASSERT_EQ(RunShell("cjpeg -quality 100 -sample 1x1 " + dir.File(f + std::string(".pnm")) + " >" + dir.File(f)).status, 0);
    EXPECT_EQ(ReadText(dir.File("in")), ReadText(dir.File("eight")));
  }
}

// Lines of 15,003 bytes straddle the input buffer at ever other offsets,
// and a pipe hands them over in pieces: binary lines taken where they lie
// in the buffer give the JPEG the same image gives read number by number.
TEST(PnmInputs, LinesAcrossTheInputBufferEncodeAsPlainOnes) {
  TempDir dir;
  const int width = 5001, height = 40;
  std::string binary = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  std::string plain = "P3\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  for (long i = 0; i < 3L * width * height; ++i) {
    const int s = static_cast<int>((i * 7919 + i / 3001) % 256);
    binary += static_cast<char>(s);
    plain += std::to_string(s) + (i % 16 == 15 ? "\n" : " ");
  }
  WriteText(dir.File("binary.ppm"), binary);
  WriteText(dir.File("plain.ppm"), plain);
  Ok({"encode", dir.File("plain.ppm"), dir.File("plain.jpg")});
  Ok({"encode", dir.File("binary.ppm"), dir.File("binary.jpg")});
  ASSERT_EQ(RunShell("cat " + dir.File("binary.ppm") + " | JPEGTOOL encode - " + dir.File("piped.jpg")).status, 0);
  EXPECT_EQ(ReadText(dir.File("binary.jpg")), ReadText(dir.File("plain.jpg")));
  EXPECT_EQ(ReadText(dir.File("piped.jpg")), ReadText(dir.File("plain.jpg")));
}

}  // namespace
}  // namespace tool_test
