// smaller_files_test.cpp - tables built for the image, progressive scans and
// the lossless re-coding (JPEGOptimizeCoding), against libjpeg as the peer:
// the same coefficients coded anew must show the same pixels, to libjpeg and
// to our decoder, as the default file (encode) or the input (re-coding).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "jpeg_transcode.h"
#include "support/decode_paths.h"
#include "support/our_codec.h"
#include "support/test_support.h"

namespace ts = testing_support;

namespace {

struct Case {
  const char* name;
  ts::Image image;
  bool subsample;
  int markerMode;
  ts::Bytes segments;  // written after SOI; must come through re-coding
};

ts::Bytes Encode(const Case& c, bool optimize = false, bool progressive = false, int threads = 0) {
  ts::OurEncodeOptions o{0.76, c.subsample, false, c.markerMode, c.segments, threads};
  o.optimize = optimize, o.progressive = progressive;
  const ts::OurEncodeResult r = ts::OurEncode(c.image, o);
  EXPECT_TRUE(r.ok) << c.name << ": " << r.message;
  return r.jpeg;
}

ts::Bytes Pixels(const ts::Bytes& jpeg, const std::string& what) {
  ts::Image out;
  std::string message;
  EXPECT_TRUE(ts::LibjpegDecode(jpeg, &out, false, &message)) << what << ": " << message;
  return out.pixels;
}

ts::Bytes Recode(const ts::Bytes& jpeg, bool progressive, int32_t* result, long failAfter = -1) {
  ts::MemSink sink(failAfter < 0 ? 4096 : 64, failAfter);
  const JPEGTranscodeOptions options{static_cast<uint8_t>(progressive ? 1 : 0)};
  *result = JPEGOptimizeCoding(jpeg.data(), jpeg.size(), sink.stm(), &options);
  return sink.Contents();
}

bool Contains(const ts::Bytes& haystack, const ts::Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

const ts::Bytes kComment = {0xFF, 0xFE, 0x00, 0x07, 'k', 'e', 'p', 't', '!'};

std::vector<Case> Cases() {
  return {
      {"astronaut 4:4:4", ts::LoadTestImage("astronaut.ppm"), false, 0, kComment},
      {"coffee 4:2:0", ts::LoadTestImage("coffee.ppm"), true, 0, {}},
      {"camera grey", ts::LoadTestImage("camera.pgm"), false, 0, kComment},
      {"chelsea CMYK 2x2", ts::LoadTestImage("chelsea_cmyk.pam"), true, 0, {}},
      {"RGB untransformed", ts::SyntheticImage(77, 41, 3, 3), false, 2, {}},
      {"odd 4:2:0 edges", ts::SyntheticImage(17, 9, 3, 5), true, 0, {}},
      {"one pixel", ts::SyntheticImage(1, 1, 3, 7), false, 0, {}},
      {"two components", ts::SyntheticImage(35, 70, 2, 9), false, 0, {}},
  };
}

TEST(SmallerFiles, OptimizedAndProgressiveFilesShowTheDefaultFilesPixels) {
  for (const Case& c : Cases()) {
    const ts::Bytes plain = Encode(c);
    const ts::Bytes peerPixels = Pixels(plain, c.name);
    const ts::Bytes ourPixels = ts::Pixels(ts::RunDecodeFilter(plain));
    for (const bool progressive : {false, true}) {
      const std::string what = std::string(c.name) + (progressive ? " progressive" : " optimized");
      const ts::Bytes file = Encode(c, !progressive, progressive);
      EXPECT_EQ(Pixels(file, what), peerPixels) << what;
      EXPECT_EQ(ts::Pixels(ts::RunDecodeFilter(file)), ourPixels) << what;
      EXPECT_EQ(Encode(c, !progressive, progressive, 3), file) << what << ": workers change the bytes";
      for (const ts::PeerReader reader : {ts::PeerReader::kMagick, ts::PeerReader::kPillow}) {
        // Neither reads two components; a comment would land in their PAM header.
        if (!progressive || c.image.colors == 2 || !c.segments.empty()) continue;
        const int w = c.image.width, h = c.image.height;
        EXPECT_EQ(ts::PeerRead(reader, file, w, h).pixels, ts::PeerRead(reader, plain, w, h).pixels) << what;
      }
      EXPECT_TRUE(c.image.width < 256 || file.size() < plain.size()) << what;
      // Re-coding our own file: the same pixels again, the segments kept.
      int32_t result = 0;
      const ts::Bytes recoded = Recode(file, !progressive, &result);
      ASSERT_EQ(result, 0) << what << ": " << JPEGLastErrorMessage();
      EXPECT_EQ(Pixels(recoded, what + " re-coded"), peerPixels) << what;
      EXPECT_TRUE(Contains(recoded, c.segments)) << what;
    }
  }
}

TEST(SmallerFiles, RecodingKeepsThePeersPixelsAndBeatsTheInput) {
  const ts::Image photo = ts::LoadTestImage("coffee.ppm");
  ts::LibjpegOptions restarts;
  restarts.hSamp0 = 2, restarts.vSamp0 = 1, restarts.restartInterval = 5;
  ts::LibjpegOptions progressive;
  progressive.progressive = true;
  const std::vector<std::pair<const char*, ts::Bytes>> inputs = {
      {"libjpeg 4:2:0", ts::LibjpegEncode(photo)},
      {"libjpeg 4:2:2 restarts", ts::LibjpegEncode(photo, restarts)},
      {"libjpeg progressive", ts::LibjpegEncode(photo, progressive)},
      {"retina.jpg", ts::ReadFileBytes(ts::TestdataPath("retina.jpg"))},
      // one scan per component, 18 blocks per MCU: too many for one interleaved scan
      {"libjpeg 4x4 luminance", ts::PeerFileFromShell("printf '0: 0 63 0 0;\\n1: 0 63 0 0;\\n2: 0 63 0 0;\\n' > s && "
                                                      "cjpeg -sample 4x4,1x1,1x1 -scans s " +
                                                      ts::TestdataPath("coffee.ppm") + " > out.jpg")},
  };
  for (const auto& [name, input] : inputs) {
    for (const bool toProgressive : {false, true}) {
      int32_t result = 0;
      const ts::Bytes out = Recode(input, toProgressive, &result);
      ASSERT_EQ(result, 0) << name << ": " << JPEGLastErrorMessage();
      EXPECT_EQ(Pixels(out, name), Pixels(input, name)) << name << (toProgressive ? " to progressive" : "");
      EXPECT_TRUE(!toProgressive || out.size() < input.size()) << name;
    }
  }
}

TEST(SmallerFiles, RecodingRefusesWhatItCannotRead) {
  const ts::Bytes good = ts::LibjpegEncode(ts::SyntheticImage(64, 64, 3));
  const std::vector<std::pair<const char*, ts::Bytes>> inputs = {
      {"empty", {}},
      {"not a JPEG file", {'P', '6', '\n', '1', ' ', '1', '\n'}},
      {"header only", ts::Bytes(good.begin(), good.begin() + 300)},
  };
  int32_t result = 0;
  for (const auto& [name, input] : inputs) {
    Recode(input, false, &result);
    EXPECT_EQ(result, -1) << name;
    EXPECT_STRNE(JPEGLastErrorMessage(), "") << name;
  }
  Recode(good, false, &result, 100);  // the target fails
  EXPECT_EQ(result, -1);
}

}  // namespace
