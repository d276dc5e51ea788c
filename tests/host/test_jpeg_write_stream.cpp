// test_jpeg_write_stream.cpp - TJPEGWriteStream: files on disk that read
// back through TJPEGReadStream (every quality, plain and ASCII85, 1 to 4
// colours, resource data of every chunking case), the APP13 layout of the
// resource data, what quality chooses, and the failures a host sees: bad
// parameters, a refusing encoder, a host stream that fails on its first or a
// later write, and streams freed early (LeakSanitizer checks the releases).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <tuple>

#include "host/host_internal.h"
#include "host_test_util.h"
#include "thumb_stream.h"

using namespace host_test;
using testing_support::LibjpegDecode;
using testing_support::Psnr;
using testing_support::SyntheticImage;

namespace {

JPEGWriteOptions Options(const Image& img, int32_t quality, int32_t markerMode = 0) {
  JPEGWriteOptions o{};
  o.quality = quality;
  o.xResolution = 300;
  o.yResolution = 300;
  o.width = static_cast<int16_t>(img.width);
  o.height = static_cast<int16_t>(img.height);
  o.colors = static_cast<int16_t>(img.colors);
  o.markerMode = markerMode;
  return o;
}

void WriteLines(TJPEGWriteStream* stream, const Image& img, int lines) {
  const long lineBytes = static_cast<long>(img.width) * img.colors;
  for (int y = 0; y < lines; y++)
    stream->PutJPEGRaster(reinterpret_cast<char*>(const_cast<uint8_t*>(img.Row(y))), lineBytes);
}

// Encodes img into a memory stream; resources (if any) become fUserMarkers.
Bytes Encode(const Image& img, const JPEGWriteOptions& options, bool ascii85,
             const Bytes* resources = nullptr) {
  TMemoryStream target;
  TJPEGWriteStream* stream = MakeJPEGWriteFolioprintStream(&target);
  LargeHandle h = resources ? HandleWith(*resources) : nullptr;
  stream->fUserMarkers = h;
  stream->StartJPEG(options, ascii85 ? 1 : 0);
  WriteLines(stream, img, img.height);
  stream->StopJPEG();
  stream->Free();
  FreeLargeHandle(h);
  return target.Contents();
}

// The marker segments before the first SOS: (marker, payload) in file order.
std::vector<std::pair<uint8_t, Bytes>> HeaderSegments(const Bytes& jpeg) {
  std::vector<std::pair<uint8_t, Bytes>> out;
  size_t pos = 2;
  while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA) {
    const size_t length = (size_t{jpeg[pos + 2]} << 8) | jpeg[pos + 3];
    out.emplace_back(jpeg[pos + 1], Bytes(jpeg.begin() + static_cast<long>(pos + 4),
                                          jpeg.begin() + static_cast<long>(pos + 2 + length)));
    pos += 2 + length;
  }
  return out;
}

Bytes FindSegment(const Bytes& jpeg, uint8_t marker) {
  for (const auto& [m, payload] : HeaderSegments(jpeg))
    if (m == marker) return payload;
  return {};
}

const size_t kSizes[] = {0, 1, 32000, 32001, 100000};

}  // namespace

// --- round trips on disk -----------------------------------------------------------

class WriteReadRoundTrip : public ::testing::TestWithParam<std::tuple<int, bool, int>> {};

TEST_P(WriteReadRoundTrip, FileReadsBackWithResourcesResolutionAndPixels) {
  const auto [quality, ascii85, colors] = GetParam();
  const Image img = SyntheticImage(37, 29, colors, static_cast<uint32_t>(quality + 1));
  TempDir dir;
  for (size_t size : kSizes) {
    SCOPED_TRACE(size);
    const Bytes resources = ResourceBytes(size, static_cast<uint32_t>(size));
    TFile file(dir.File("image.jpg"));
    TJPEGWriteStream* out = MakeJPEGWriteFileStream(&file);
    out->fUserMarkers = HandleWith(resources);
    JPEGWriteOptions options = Options(img, quality);
    options.xResolution = 150;
    out->StartJPEG(options, ascii85);
    WriteLines(out, img, img.height);
    out->StopJPEG();
    FreeLargeHandle(out->fUserMarkers);  // the caller's, never the stream's
    out->Free();

    TJPEGReadStream* in = MakeJPEGReadFileStream(&file);
    JPEGReadInfo info{};
    const Image back = ReadImage(in, ascii85, &info);
    EXPECT_EQ(info.width, img.width);
    EXPECT_EQ(info.height, img.height);
    EXPECT_EQ(info.colors, colors);
    EXPECT_EQ(in->fResolution, 150 * 65536);
    EXPECT_EQ(HandleBytes(in->fResources), resources);
    in->Free();
    // Quality 0 is the coarsest setting and chroma is subsampled below 3.
    EXPECT_GT(Psnr(back, img), quality == 0 ? 26.0 : 28.0);
  }
}

INSTANTIATE_TEST_SUITE_P(AllQualities, WriteReadRoundTrip,
                         ::testing::Combine(::testing::Range(0, 7), ::testing::Bool(),
                                            ::testing::Values(1, 3, 4)));

TEST(WriteStream, PlainOutputIsReadByTheReferenceDecoder) {
  const Image img = SyntheticImage(64, 48, 3);
  const Bytes resources = ResourceBytes(40000);
  const Bytes jpeg = Encode(img, Options(img, 4), false, &resources);
  Image ref;
  std::string message;
  ASSERT_TRUE(LibjpegDecode(jpeg, &ref, false, &message)) << message;
  EXPECT_GT(Psnr(ref, img), 30.0);
}

TEST(WriteStream, Ascii85OutputIsPrintableTextWithTheEndMark) {
  const Image img = SyntheticImage(40, 40, 3);
  const Bytes text = Encode(img, Options(img, 3), true);
  for (uint8_t c : text) ASSERT_TRUE(c == '\n' || (c >= '!' && c <= 'u') || c == 'z' || c == '~') << int(c);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text[text.size() - 2], '~');
  EXPECT_EQ(text.back(), '>');
}

// --- the resource segments ----------------------------------------------------------

TEST(WriteStream, ResourceDataIsCutInto32000ByteAPP13Segments) {
  const Image img = SyntheticImage(16, 16, 1);
  for (size_t size : kSizes) {
    SCOPED_TRACE(size);
    const Bytes resources = ResourceBytes(size);
    for (int32_t markerMode : {0, 1}) {
      const Bytes jpeg = Encode(img, Options(img, 3, markerMode), false, &resources);
      auto segments = HeaderSegments(jpeg);
      size_t i = 0;
      if (markerMode != 1) {  // the JFIF segment comes first: units 1, 300 dpi
        ASSERT_EQ(segments.at(0).first, 0xE0);
        EXPECT_EQ(segments[0].second, JFIFPayload(1, 300));
        i = 1;
      }
      Bytes gathered;
      size_t chunks = 0;
      for (; i < segments.size() && segments[i].first == 0xED; i++, chunks++) {
        const Bytes& p = segments[i].second;
        ASSERT_GE(p.size(), 15u);
        EXPECT_EQ(std::memcmp(p.data(), "Imagerion 3.0", 14), 0);
        EXPECT_EQ(p.size() - 14, std::min<size_t>(32000, size - gathered.size()));
        gathered.insert(gathered.end(), p.begin() + 14, p.end());
      }
      EXPECT_EQ(chunks, (size + 31999) / 32000);
      EXPECT_EQ(gathered, resources);
    }
  }
}

TEST(WriteStream, SpoolingWithoutMemoryFailsCleanly) {
  const Image img = SyntheticImage(16, 16, 1);
  TMemoryStream target;
  TJPEGWriteStream* stream = MakeJPEGWriteFolioprintStream(&target);
  stream->fUserMarkers = HandleWith(ResourceBytes(10));
  HostRefuseHandleAllocationAfter(0);
  EXPECT_EQ(FailureCode([&] { stream->StartJPEG(Options(img, 3), 0); }), kHostNoMemory);
  HostRefuseHandleAllocationAfter(-1);
  stream->StartJPEG(Options(img, 3), 0);  // the stream is still usable
  WriteLines(stream, img, img.height);
  stream->StopJPEG();
  FreeLargeHandle(stream->fUserMarkers);
  stream->Free();
}

// --- quality ------------------------------------------------------------------------

TEST(WriteStream, QualityChoosesScaleAndSubsampling) {
  const Image img = SyntheticImage(32, 32, 3);
  long previousSum = -1;
  for (int quality = 0; quality <= 6; quality++) {
    SCOPED_TRACE(quality);
    const Bytes jpeg = Encode(img, Options(img, quality), false);
    const Bytes sof = FindSegment(jpeg, 0xC0);
    ASSERT_GE(sof.size(), 15u);
    const uint8_t sampling0 = sof[7];  // H0 << 4 | V0 of the first component
    EXPECT_EQ(sampling0, quality < 3 ? 0x22 : 0x11);
    const Bytes dqt = FindSegment(jpeg, 0xDB);
    ASSERT_GE(dqt.size(), 65u);
    long sum = 0;
    for (int i = 1; i <= 64; i++) sum += dqt[i];
    if (previousSum >= 0) {
      EXPECT_LE(sum, previousSum);  // finer with every step
    }
    previousSum = sum;
  }
  EXPECT_DOUBLE_EQ(TJPEGWriteStream::QFactorFor(2), 0.76);
  EXPECT_DOUBLE_EQ(TJPEGWriteStream::QFactorFor(3), 0.65);
}

TEST(WriteStream, BadParametersAreRefusedBeforeTheEncoderRuns) {
  const Image img = SyntheticImage(16, 16, 3);
  TMemoryStream target;
  TJPEGWriteStream* stream = MakeJPEGWriteFolioprintStream(&target);
  for (int32_t quality : {-1, 7, 1000}) {
    EXPECT_EQ(FailureCode([&] { stream->StartJPEG(Options(img, quality), 0); }), kHostParamError);
  }
  JPEGWriteOptions noWidth = Options(img, 3);
  noWidth.width = 0;
  EXPECT_EQ(FailureCode([&] { stream->StartJPEG(noWidth, 0); }), kHostParamError);
  char line[48] = {};
  EXPECT_EQ(FailureCode([&] { stream->PutJPEGRaster(line, 48); }), kHostParamError);  // not started
  JPEGWriteOptions fiveColors = Options(img, 3);
  fiveColors.colors = 5;
  for (unsigned char ascii85 : {0, 1}) {
    EXPECT_EQ(FailureCode([&] { stream->StartJPEG(fiveColors, ascii85); }), kHostCodecError);
    EXPECT_STREQ(JPEGLastErrorMessage(), "Wrong number of colors!");
  }
  EXPECT_TRUE(target.Contents().empty());
  stream->Free();
}

// --- failures -----------------------------------------------------------------------

TEST(WriteStream, HostWriteFailureIsRaisedWithItsCode) {
  const Image img = testing_support::LoadTestImage("astronaut.ppm");
  for (bool ascii85 : {false, true}) {
    for (int failingWrite : {1, 2, 5}) {
      SCOPED_TRACE(testing::Message() << "ascii85 " << ascii85 << " write " << failingWrite);
      FailingStream target({}, 0, failingWrite, -5002);
      TJPEGWriteStream* stream = MakeJPEGWriteFolioprintStream(&target);
      stream->StartJPEG(Options(img, 6), ascii85);
      int16_t code = FailureCode([&] {
        WriteLines(stream, img, img.height);
        stream->StopJPEG();
      });
      EXPECT_EQ(code, -5002);
      EXPECT_EQ(stream->fError, -5002);
      EXPECT_GE(target.writes(), failingWrite);
      stream->Free();
    }
  }
}

TEST(WriteStream, FullDiskIsReported) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const Image img = SyntheticImage(64, 64, 3);
  TFile full("/dev/full");
  TJPEGWriteStream* stream = MakeJPEGWriteFileStream(&full);
  stream->StartJPEG(Options(img, 6), 0);
  int16_t code = FailureCode([&] {
    WriteLines(stream, img, img.height);
    stream->StopJPEG();
  });
  EXPECT_EQ(code, kHostDiskFull);
  stream->Free();
}

TEST(WriteStream, StoppingBeforeTheLastLineIsACodecFailure) {
  const Image img = SyntheticImage(32, 32, 3);
  TMemoryStream target;
  TJPEGWriteStream* stream = MakeJPEGWriteFolioprintStream(&target);
  stream->StartJPEG(Options(img, 3), 0);
  WriteLines(stream, img, 20);
  EXPECT_EQ(FailureCode([&] { stream->StopJPEG(); }), kHostCodecError);
  EXPECT_STREQ(JPEGLastErrorMessage(), "Premature close before EOI");
  stream->Free();
}

TEST(WriteStream, FreeingEarlyReleasesTheCodec) {
  // LeakSanitizer checks that the encoder (and ASCII85) memory goes with
  // the stream when StopJPEG never ran.
  const Image img = SyntheticImage(48, 48, 4);
  for (unsigned char ascii85 : {0, 1}) {
    for (int lines : {0, 10, 48}) {
      TMemoryStream target;
      TJPEGWriteStream* stream = MakeJPEGWriteFolioprintStream(&target);
      stream->StartJPEG(Options(img, 1), ascii85);
      WriteLines(stream, img, lines);
      stream->Free();
    }
  }
}

TEST(WriteStream, FactoriesFailCleanlyWithoutMemory) {
  TMemoryStream target;
  HostRefuseObjectAllocationAfter(0);
  EXPECT_EQ(FailureCode([&] { MakeJPEGWriteFolioprintStream(&target); }), kHostNoMemory);
  TempDir dir;
  TFile file(dir.File("out.jpg"));
  for (int allowed : {0, 1}) {  // the file stream, then the write stream refused
    HostRefuseObjectAllocationAfter(allowed);
    EXPECT_EQ(FailureCode([&] { MakeJPEGWriteFileStream(&file); }), kHostNoMemory);
  }
  EXPECT_EQ(FailureCode([] { MakeJPEGWriteFolioprintStream(nullptr); }), kHostParamError);
  TFile inMissingFolder(dir.File("missing/out.jpg"));
  EXPECT_EQ(FailureCode([&] { MakeJPEGWriteFileStream(&inMissingFolder); }), kHostFileNotFound);
}

// --- two components --------------------------------------------------------------------

TEST(TwoComponents, ReportedAsTwoColoursOnBothReadPaths) {
  const Image img = SyntheticImage(33, 17, 2);
  const Bytes jpeg = Encode(img, Options(img, 4), false);

  JPEGReadInfo info{};
  const Image back = ReadBytes(jpeg, false, &info);
  EXPECT_EQ(info.colors, 2);
  EXPECT_EQ(info.colorCode, 3);
  EXPECT_GT(Psnr(back, img), 28.0);

  short w = 0, h = 0, colors = 0;
  JPEGThumbHandle t = StartJPEGDecompress(reinterpret_cast<const char*>(jpeg.data()),
                                          static_cast<long>(jpeg.size()), &w, &h, &colors);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(colors, 2);
  // Lines handed a larger stride than the decoded line: only 2 x width bytes land.
  const short stride = static_cast<short>(w * 3);
  Bytes lines(static_cast<size_t>(stride) * h, 0x77);
  EXPECT_EQ(GetJPEGData(t, reinterpret_cast<char*>(lines.data()), h, stride), 1);
  for (int y = 0; y < h; y++) {
    const uint8_t* row = &lines[static_cast<size_t>(y) * stride];
    EXPECT_EQ(Bytes(row, row + w * 2), Bytes(back.Row(y), back.Row(y) + w * 2));
    EXPECT_EQ(Bytes(row + w * 2, row + stride), Bytes(static_cast<size_t>(w), 0x77));
  }
  CloseJPEG(t);
}
