// test_jpeg_read_stream.cpp - TJPEGReadStream on data from the reference
// encoder: header, pixels, the application segments that carry resolution
// and resource data (and their precedence), ASCII85-wrapped input, and what
// the host sees when its stream fails or runs out (codes, no leaks, no
// dangling registered stream).
#include <gtest/gtest.h>

#include <cstring>

#include "host/host_internal.h"
#include "host_test_util.h"
#include "thumb_stream.h"

using namespace host_test;
using testing_support::LibjpegDecode;
using testing_support::LibjpegEncode;
using testing_support::Psnr;
using testing_support::SyntheticImage;

namespace {

const Bytes& SmallJpeg() {
  static const Bytes jpeg = LibjpegEncode(SyntheticImage(45, 30, 3));
  return jpeg;
}

// Reads jpeg and answers the resolution found.
int32_t ResolutionOf(const Bytes& jpeg) {
  JPEGReadInfo info{};
  int32_t resolution = -1;
  ReadBytes(jpeg, false, &info, &resolution);
  return resolution;
}

}  // namespace

TEST(ReadStream, ReportsHeaderAndDecodesLikeTheReference) {
  for (int colors : {1, 3, 4}) {
    SCOPED_TRACE(colors);
    const Image src = SyntheticImage(61, 37, colors);
    const Bytes jpeg = LibjpegEncode(src);
    Image ref;
    ASSERT_TRUE(LibjpegDecode(jpeg, &ref));
    JPEGReadInfo info{};
    const Image got = ReadBytes(jpeg, false, &info);
    EXPECT_EQ(info.width, 61);
    EXPECT_EQ(info.height, 37);
    EXPECT_EQ(info.colors, colors);
    EXPECT_EQ(info.colorCode, colors == 3 ? 0 : colors == 4 ? 1 : 2);
    EXPECT_GT(Psnr(got, ref), 30.0);
  }
}

TEST(ReadStream, ReadsAscii85WrappedData) {
  JPEGReadInfo plainInfo{}, wrappedInfo{};
  const Image plain = ReadBytes(SmallJpeg(), false, &plainInfo);
  const Image wrapped = ReadBytes(Ascii85(SmallJpeg()), true, &wrappedInfo);
  EXPECT_EQ(wrapped.pixels, plain.pixels);
  EXPECT_EQ(wrappedInfo.colors, 3);
}

// Resolution (16.16 dots per inch) from the segments before the frame, in
// file order. Precedence: JFIF with units sets it; "Storm" only while none
// was found; the old resource format sets it unconditionally.
struct ResolutionCase {
  const char* name;
  std::vector<Bytes> segments;
  int32_t expected;
};

TEST(ReadStream, ResolutionFromSegmentsInOrderOfPrecedence) {
  const ResolutionCase cases[] = {
      {"none", {}, 0},
      {"JFIF dpi", {Segment(0xE0, JFIFPayload(1, 300))}, 19660800},
      {"JFIF dots per cm", {Segment(0xE0, JFIFPayload(2, 118))}, 19642450},
      {"JFIF aspect only", {Segment(0xE0, JFIFPayload(0, 300))}, 0},
      {"JFIF other units as dpi", {Segment(0xE0, JFIFPayload(7, 72))}, 72 * 65536},
      {"JFIF density past 16.16 ignored", {Segment(0xE0, JFIFPayload(1, 40000))}, 0},
      {"Storm alone", {Segment(0xED, StormPayload(150))}, 150 * 65536},
      {"Storm after JFIF dpi ignored",
       {Segment(0xE0, JFIFPayload(1, 300)), Segment(0xED, StormPayload(150))}, 300 * 65536},
      {"Storm after JFIF units 0",
       {Segment(0xE0, JFIFPayload(0, 300)), Segment(0xED, StormPayload(150))}, 150 * 65536},
      {"JFIF after Storm replaces it",
       {Segment(0xED, StormPayload(150)), Segment(0xE0, JFIFPayload(1, 96))}, 96 * 65536},
      {"Storm 0 ignored", {Segment(0xED, StormPayload(0))}, 0},
      {"Storm 10000 ignored", {Segment(0xED, StormPayload(10000))}, 0},
      {"Storm of the wrong length ignored",
       {Segment(0xED, [] { Bytes p = StormPayload(150); p.push_back(0); return p; }())}, 0},
      {"Storm on APP12 ignored", {Segment(0xEC, StormPayload(150))}, 0},
      {"old resource format", {Segment(0xED, OrlyxPayload(0x00C80000, {1, 2}))}, 200 * 65536},
      {"old resource format after JFIF",
       {Segment(0xE0, JFIFPayload(1, 300)), Segment(0xED, OrlyxPayload(0x00480000, {}))}, 72 * 65536},
      {"new resource format carries none",
       {Segment(0xE0, JFIFPayload(1, 300)), Segment(0xED, ImagerionPayload({1, 2, 3}))}, 300 * 65536},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes segments;
    for (const auto& s : c.segments) segments.insert(segments.end(), s.begin(), s.end());
    // The reference encoder's own JFIF segment follows ours (units 0: no effect).
    EXPECT_EQ(ResolutionOf(InsertAfterSOI(SmallJpeg(), segments)), c.expected);
  }
}

TEST(ReadStream, ResourcesFromBothFormats) {
  const Bytes a = ResourceBytes(32000, 1), b = ResourceBytes(1, 2), old = ResourceBytes(500, 3);
  struct Case {
    const char* name;
    Bytes segments;
    Bytes expected;
  };
  auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  const Case cases[] = {
      {"pieces concatenated in file order",
       cat({Segment(0xED, ImagerionPayload(a)), Segment(0xED, ImagerionPayload(b))}), cat({a, b})},
      {"empty piece ignored", Segment(0xED, ImagerionPayload({})), {}},
      {"old format", Segment(0xED, OrlyxPayload(0, old)), old},
      {"old format, then pieces appended",
       cat({Segment(0xED, OrlyxPayload(0, old)), Segment(0xED, ImagerionPayload(b))}), cat({old, b})},
      {"old format only while nothing is held",
       cat({Segment(0xED, ImagerionPayload(b)), Segment(0xED, OrlyxPayload(0, old))}), b},
      {"comment segments ignored", Segment(0xFE, ImagerionPayload(b)), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    JPEGReadInfo info{};
    Bytes resources;
    ReadBytes(InsertAfterSOI(SmallJpeg(), c.segments), false, &info, nullptr, &resources);
    EXPECT_EQ(resources, c.expected);
  }
}

TEST(ReadStream, ReadsAFileAndFreesItsFileStream) {
  TempDir dir;
  testing_support::WriteFileBytes(dir.File("in.jpg"), SmallJpeg());
  TFile file(dir.File("in.jpg"));
  TJPEGReadStream* stream = MakeJPEGReadFileStream(&file);
  JPEGReadInfo info{};
  const Image img = ReadImage(stream, false, &info);
  EXPECT_EQ(img.width, 45);
  stream->Free();  // the file stream goes with it (LeakSanitizer checks)

  TFile missing(dir.File("missing.jpg"));
  EXPECT_EQ(FailureCode([&] { MakeJPEGReadFileStream(&missing); }), kHostFileNotFound);
}

TEST(ReadStream, FactoriesFailCleanlyWithoutMemory) {
  TMemoryStream source(SmallJpeg());
  HostRefuseObjectAllocationAfter(0);
  EXPECT_EQ(FailureCode([&] { MakeJPEGReadFolioprintStream(&source); }), kHostNoMemory);
  TempDir dir;
  testing_support::WriteFileBytes(dir.File("in.jpg"), SmallJpeg());
  TFile file(dir.File("in.jpg"));
  for (int allowed : {0, 1}) {  // the file stream, then the read stream refused
    HostRefuseObjectAllocationAfter(allowed);
    EXPECT_EQ(FailureCode([&] { MakeJPEGReadFileStream(&file); }), kHostNoMemory);
  }
  EXPECT_EQ(FailureCode([] { MakeJPEGReadFolioprintStream(nullptr); }), kHostParamError);
}

TEST(ReadStream, EmptySourceIsACodecFailureAfterRunningOut) {
  TMemoryStream source;
  TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
  JPEGReadInfo info{};
  EXPECT_EQ(FailureCode([&] { stream->StartJPEG(&info, 0); }), kHostCodecError);
  EXPECT_EQ(stream->fError, kHostEndOfFile);
  EXPECT_NE(std::string(JPEGLastErrorMessage()), "");
  EXPECT_EQ(gJPEGReadStream, nullptr);
  stream->Free();
}

TEST(ReadStream, TruncatedScanFailsOnTheLineThatNeedsTheMissingData) {
  const Image src = SyntheticImage(64, 200, 3);
  const Bytes jpeg = LibjpegEncode(src);
  const Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() * 2 / 3));
  TMemoryStream source(cut);
  TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
  JPEGReadInfo info{};
  stream->StartJPEG(&info, 0);
  std::vector<char> line(static_cast<size_t>(stream->fLineBytes));
  int good = 0;
  int16_t code = 0;
  for (int y = 0; y < info.height && code == 0; y++) {
    code = FailureCode([&] { stream->GetJPEGRaster(line.data()); });
    if (code == 0) good++;
  }
  EXPECT_EQ(code, kHostCodecError);
  EXPECT_EQ(stream->fError, kHostEndOfFile);
  EXPECT_NE(std::string(JPEGLastErrorMessage()), "");
  EXPECT_GT(good, 0);
  EXPECT_LT(good, info.height);
  stream->Free();  // without StopJPEG: the decoder's memory goes too
  EXPECT_EQ(gJPEGReadStream, nullptr);
}

TEST(ReadStream, HostReadFailureIsRaisedWithItsOwnCode) {
  const Bytes jpeg = LibjpegEncode(testing_support::LoadTestImage("astronaut.ppm"));
  ASSERT_GT(jpeg.size(), 3u * 8192);
  const Bytes text = Ascii85(jpeg);
  for (int failingCall : {1, 2, 3}) {
    for (bool ascii85 : {false, true}) {
      SCOPED_TRACE(testing::Message() << "read " << failingCall << " ascii85 " << ascii85);
      FailingStream source(ascii85 ? text : jpeg, failingCall, 0, -5001);
      TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
      JPEGReadInfo info{};
      int16_t code = FailureCode([&] {
        stream->StartJPEG(&info, ascii85);
        std::vector<char> line(static_cast<size_t>(stream->fLineBytes));
        for (int y = 0; y < info.height; y++) stream->GetJPEGRaster(line.data());
        stream->StopJPEG();
      });
      EXPECT_EQ(code, -5001);
      EXPECT_EQ(stream->fError, -5001);
      stream->Free();
    }
  }
}

TEST(ReadStream, ExtraLinesAreLeftUntouchedWithoutFailure) {
  TMemoryStream source(SmallJpeg());
  TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
  JPEGReadInfo info{};
  stream->StartJPEG(&info, 0);
  std::vector<char> line(static_cast<size_t>(stream->fLineBytes));
  for (int y = 0; y < info.height; y++) stream->GetJPEGRaster(line.data());
  std::vector<char> extra(line.size(), 0x5A);
  EXPECT_EQ(FailureCode([&] { stream->GetJPEGRaster(extra.data()); }), 0);
  EXPECT_EQ(extra, std::vector<char>(line.size(), 0x5A));
  EXPECT_EQ(FailureCode([&] { stream->StopJPEG(); }), 0);
  stream->Free();
}

TEST(ReadStream, NeverCopiesPastTheDecodedLine) {
  TMemoryStream source(SmallJpeg());
  TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
  JPEGReadInfo info{};
  stream->StartJPEG(&info, 0);
  const size_t decoded = static_cast<size_t>(stream->fLineBytes);
  stream->fLineBytes = 1 << 20;  // a host that believes in longer lines
  std::vector<char> line(decoded + 64, 0x11);
  stream->GetJPEGRaster(line.data());
  for (size_t i = decoded; i < line.size(); i++) ASSERT_EQ(line[i], 0x11) << i;
  stream->Free();
}

TEST(ReadStream, RegisteredStreamIsClearedWhenItGoesAway) {
  // Segments met by any decoder go to the registered stream; once that
  // stream is gone (freed without StopJPEG, or after a failed start) a
  // thumbnail decode of a file with resource segments must reach nothing.
  const Bytes withResources = InsertAfterSOI(SmallJpeg(), Segment(0xED, ImagerionPayload({1, 2, 3})));
  auto thumbnail = [&] {
    short w = 0, h = 0, c = 0;
    JPEGThumbHandle t = StartJPEGDecompress(reinterpret_cast<const char*>(withResources.data()),
                                            static_cast<long>(withResources.size()), &w, &h, &c);
    ASSERT_NE(t, nullptr);
    CloseJPEG(t);
  };
  {
    TMemoryStream source(SmallJpeg());
    TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
    JPEGReadInfo info{};
    stream->StartJPEG(&info, 0);
    EXPECT_EQ(gJPEGReadStream, stream);
    stream->Free();
    EXPECT_EQ(gJPEGReadStream, nullptr);
    thumbnail();
  }
  {
    TMemoryStream source(Bytes{0xFF, 0xD8, 0xFF, 0xD9});
    TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
    JPEGReadInfo info{};
    EXPECT_EQ(FailureCode([&] { stream->StartJPEG(&info, 0); }), kHostCodecError);
    EXPECT_EQ(gJPEGReadStream, nullptr);
    thumbnail();
    stream->Free();
  }
}

TEST(ReadStream, ResourceMemoryFailureNeverUnwindsThroughTheDecoder) {
  // Out of memory while gathering resources: the hook keeps the failure and
  // StartJPEG raises it once the decoder is back; nothing leaks.
  const Bytes jpeg = InsertAfterSOI(SmallJpeg(), Segment(0xED, ImagerionPayload(ResourceBytes(100))));
  for (int allowed : {0, 1}) {  // the first piece, or growing for the second
    SCOPED_TRACE(allowed);
    Bytes twoPieces = allowed ? InsertAfterSOI(jpeg, Segment(0xED, ImagerionPayload({1}))) : jpeg;
    TMemoryStream source(twoPieces);
    TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
    JPEGReadInfo info{};
    HostRefuseHandleAllocationAfter(allowed);
    EXPECT_EQ(FailureCode([&] { stream->StartJPEG(&info, 0); }), kHostNoMemory);
    HostRefuseHandleAllocationAfter(-1);
    EXPECT_EQ(gJPEGReadStream, nullptr);
    stream->Free();
  }
}

TEST(ReadStream, CallsOutOfOrderAreParameterErrors) {
  TMemoryStream source(SmallJpeg());
  TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
  char line[8];
  EXPECT_EQ(FailureCode([&] { stream->GetJPEGRaster(line); }), kHostParamError);
  EXPECT_EQ(FailureCode([&] { stream->StartJPEG(nullptr, 0); }), kHostParamError);
  EXPECT_EQ(FailureCode([&] { stream->StopJPEG(); }), 0);  // nothing open: nothing to report
  stream->Free();
}
