// test_sampling_peers.cpp - every chroma sampling the encode options offer
// (1x1, 2x1, 1x2, 2x2; blended and not) on grey, RGB and CMYK images of
// odd size, read by djpeg, ImageMagick and Pillow, run at test time, against
// our own decode of the same file; coded on worker threads, the bytes must
// be the one-thread bytes.
//
// Other programs do not know our four-component colour segment: they show
// the stored Y, Cb, Cr, K planes as ink stored inverted. Our decode of the
// file with the segment's transform byte cleared gives those planes.
#include <gtest/gtest.h>

#include "support/decode_paths.h"
#include "support/our_codec.h"

using namespace testing_support;

TEST(SamplingPeers, EveryLayoutReadsAlikeInEveryPeer) {
  for (const char* name : {"camera.pgm", "astronaut.ppm", "chelsea_cmyk.pam"}) {
    const Image source = Crop(LoadTestImage(name), 203, 117);
    for (int s : {11, 21, 12, 22, 111, 121, 112, 122}) {  // HV; 1HV: blended
      OurEncodeOptions options{0.15, false, s > 100, 0, {}, 0, s / 10 % 10, s % 10};
      const Bytes jpeg = OurEncode(source, options).jpeg;
      options.threads = 3;
      EXPECT_EQ(OurEncode(source, options).jpeg, jpeg) << name << " " << s << " threads";
      EXPECT_GE(Psnr(RunDecodeFilter(jpeg).pixels, source.pixels), 30) << name << " " << s;
      Bytes planes = jpeg;
      if (source.colors == 4) planes[35] = 0;  // the transform byte, after SOI, APP0 and 15 bytes of APP14
      Image ours = source;
      ours.pixels = RunDecodeFilter(planes).pixels;
      if (source.colors == 4) ours = InvertedInks(ours);
      for (PeerReader p : {PeerReader::kDjpeg, PeerReader::kMagick, PeerReader::kPillow}) {
        if (source.colors == 1 && p == PeerReader::kMagick) continue;  // shows grey as RGB
        const Image expected = source.colors == 4 && p == PeerReader::kDjpeg ? InkToRgb(ours) : ours;
        EXPECT_GE(Psnr(PeerRead(p, jpeg, source.width, source.height), expected), 40)
            << name << " sampling " << s << " peer " << static_cast<int>(p);
      }
    }
  }
}
