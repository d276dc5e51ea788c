// test_jpeg_read_stream.cpp - the host framework and TJPEGReadStream: every
// failure (foreign exceptions and code 0 too) turned into a host code, a
// failed read that consumes nothing, file open failures, large handles keeping
// their contents; resolution and resource data from the application segments
// (and their precedence), lines never copied past the decoded line, what the
// host sees when its stream fails or runs out (codes, no leaks, no dangling
// registered stream), and refused allocations of both stream kinds. Stream
// ownership is checked by LeakSanitizer wherever the JPEG streams free the
// file streams they own.
#include <new>

#include "host_test_util.h"


namespace {

// A small JPEG from the reference encoder with segments spliced in after SOI.
Bytes SmallJpeg(const Bytes& segments = {}) {
  static const Bytes jpeg = testing_support::LibjpegEncode(SyntheticImage(45, 30, 3));
  return Cat({Bytes{0xFF, 0xD8}, segments, Bytes(jpeg.begin() + 2, jpeg.end())});
}
Bytes Storm(uint16_t dpi, uint8_t marker = 0xED, Bytes tail = {9, 9}) {  // dpi at offset 10
  return Segment(marker, Cat({Str("Storm", 6), {9, 9, 9, 9}, Be16(dpi), tail}));
}
Bytes Orlyx(uint16_t dpi, const Bytes& resources) {  // dpi as 16.16, 4 reserved bytes
  return Segment(0xED, Cat({Str("Orlyx_Imagerion2.5:", 19), Be16(dpi), {0, 0, 0, 0, 0, 0}, resources}));
}

}  // namespace

TEST(HostFramework, FailureCodesStreamsAndHandles) {
  // Foreign exceptions have codes too, and a failure must never read as success.
  const std::pair<void (*)(), int16_t> cases[] = {{[] { Failure(-43, 7); }, -43}, {[] { throw 42; }, kHostIOError},
      {[] { throw std::bad_alloc(); }, kHostNoMemory}, {[] { Failure(0, 0); }, kHostIOError}};
  for (const auto& c : cases) {
    const auto body = c.first;  // a plain variable: a lambda may not capture a structured binding before C++20
    const int16_t code = c.second;
    TryBlock handled, passed;
    EXPECT_TRUE(handled.Try(body).Catch(1));
    EXPECT_EQ(handled.Error(), code);
    EXPECT_EQ(FailureCode([&] { passed.Try(body).End(); }), code);  // unhandled: raised again
  }
  TMemoryStream memory(Bytes{1, 2, 3});
  uint8_t buf[3];
  EXPECT_EQ(FailureCode([&] { memory.GetBytes(4, buf); }), kHostEndOfFile);
  memory.GetBytes(3, buf);  // the failed read consumed nothing
  EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{1, 2, 3}));

  TFile folder(::testing::TempDir()), missing(::testing::TempDir() + "none/missing");
  TFileStream a, b, c;
  EXPECT_EQ(FailureCode([&] { a.IFileStream(&missing, TFileStream::kWriteMode); }), kHostFileNotFound);
  EXPECT_EQ(FailureCode([&] { b.IFileStream(&folder, TFileStream::kReadMode); }), kHostIOError);
  EXPECT_EQ(FailureCode([&] { c.IFileStream(&folder, TFileStream::kWriteMode); }), kHostPermission);

  LargeHandle h = HandleWith(Str("abcde", 5));
  ResizeLargeHandle(h, 100000);
  ResizeLargeHandle(h, 2);
  EXPECT_EQ(HandleBytes(h), Str("ab", 2));
  FreeLargeHandle(h);
}

// Resolution is 16.16 dots per inch from the segments before the frame, in
// file order: JFIF with units sets it; "Storm" only while none was found; the
// old resource format always. Resource pieces are gathered in file order; the
// old format's resources only while nothing is held. Every file is read by a
// host that believes in longer lines: it gets no more than the decoded line,
// and a line asked for past the last is left alone without failure.
TEST(ReadStream, ResolutionAndResourcesFromSegmentsNeverPastTheLine) {
  const Bytes a = ResourceBytes(32000, 1), b = ResourceBytes(1, 2), old = ResourceBytes(500, 3);
  const std::tuple<Bytes, int32_t, Bytes> cases[] = {
      {JFIF(1, 300), 300 << 16, Bytes()}, {JFIF(2, 118), 19642450, {}}, {JFIF(1, 40000), 0, {}},  // cm, past 16.16
      {Cat({JFIF(1, 300), Storm(150)}), 300 << 16, {}}, {Cat({JFIF(0, 300), Storm(150)}), 150 << 16, {}},  // units 0
      {Cat({Storm(150), JFIF(1, 96)}), 96 << 16, {}},
      {Cat({Storm(10000), Storm(150, 0xED, {9, 9, 0}), Storm(150, 0xEC)}), 0, {}},  // range, length, marker
      {Cat({JFIF(1, 300), Orlyx(72, old)}), 72 << 16, old},
      {Cat({JFIF(1, 300), Piece(a), Piece(b)}), 300 << 16, Cat({a, b})},
      {Cat({Piece({}), Piece(b, 0xFE)}), 0, {}},  // empty piece, comment segment
      {Cat({Orlyx(0, old), Piece(b)}), 0, Cat({old, b})}, {Cat({Piece(b), Orlyx(0, old)}), 0, b},
  };
  for (const auto& [segments, resolution, resources] : cases) {
    TMemoryStream source(SmallJpeg(segments));
    TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
    JPEGReadInfo info{};
    char unused[8];
    EXPECT_EQ(FailureCode([&] { stream->GetJPEGRaster(unused); }), kHostParamError);  // not started
    stream->StartJPEG(&info, 0);
    const long decoded = stream->fLineBytes, tail = decoded * info.height;
    stream->fLineBytes = 1 << 20;
    std::vector<char> lines(static_cast<size_t>(tail + decoded + 64), 0x11);
    for (int y = 0; y <= info.height; y++) stream->GetJPEGRaster(&lines[static_cast<size_t>(y * decoded)]);
    EXPECT_EQ(std::vector<char>(lines.begin() + tail, lines.end()), std::vector<char>(decoded + 64, 0x11));
    EXPECT_EQ(stream->fResolution, resolution) << &segments - &std::get<0>(cases[0]);
    EXPECT_EQ(HandleBytes(stream->fResources), resources);
    stream->Free();
  }
}

// Host streams failing while writing or reading (or running out) give the
// caller their code, whatever it is, and leave nothing behind.
TEST(HostStreams, FailuresGiveTheirCodeBothWaysAndLeaveNothingBehind) {
  const Image img = testing_support::LoadTestImage("astronaut.ppm");  // many writes and reads
  TFile full("/dev/full");  // a real file on a full disk
  Bytes written[2];  // what the writes that never fail give, plain and ASCII85
  for (const auto& [ascii85, failingWrite] : {std::pair{0, 1}, {1, 1}, {0, 5}, {1, 2}, {0, -1}, {0, 0}, {1, 0}}) {
    const int16_t code = failingWrite < 0 ? kHostDiskFull : failingWrite == 1 ? kHostIOError : failingWrite ? -5002 : 0;
    FailingStream target({}, failingWrite, code);
    TJPEGWriteStream* stream =
        failingWrite < 0 ? MakeJPEGWriteFileStream(&full) : MakeJPEGWriteFolioprintStream(&target);
    EXPECT_EQ(FailureCode([&, a85 = ascii85] { WriteImage(stream, img, Options(img, 6), a85); }), code) << failingWrite;
    EXPECT_EQ(stream->fError, code);
    stream->Free();
    if (failingWrite == 0) written[ascii85] = target.Contents();
  }
  const Bytes &jpeg = written[0], &text = written[1];  // read in pieces of 8192 bytes
  const Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() * 2 / 3));
  // After the last line a 24 KB comment before EOI: a read failing inside it
  // (while the last line settles the image) gives the host's code.
  const Bytes junk = Cat({Slice(jpeg, 0, jpeg.size() - 2), Segment(0xFE, Bytes(3 * 8192, 0)), {0xFF, 0xD9}});
  const int junkRead = 3 * static_cast<int>(jpeg.size() / 8192 + 3) - 1;
  // Data, ASCII85, failing call (0 none), code. Each refill queries the
  // length, then reads (which queries it again): call 1 is the first length
  // query, 2 the first read, 5 the second, 8 the third.
  const std::tuple<Bytes, bool, int, int16_t> cases[] = {
      {Bytes(), false, 0, kHostCodecError},  {cut, false, 0, kHostCodecError}, {jpeg, false, 1, -5001},
      {jpeg, false, 8, kHostIOError}, {text, true, 2, -5001},           {text, true, 5, -5001},
      {junk, false, junkRead, -5001},
  };
  for (const auto& [data, ascii85, failingRead, code] : cases) {
    FailingStream source(data, failingRead, code);
    TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
    JPEGReadInfo info{};
    int lines = 0;
    const int16_t raised = FailureCode([&, a85 = ascii85] {
      stream->StartJPEG(&info, a85);
      for (std::vector<char> line(stream->fLineBytes); lines < info.height; lines++) stream->GetJPEGRaster(line.data());
    });
    EXPECT_EQ(raised, code) << data.size() << " bytes, read " << failingRead;
    // Running out is a codec failure with the codec's reason; -39 stays in fError.
    EXPECT_EQ(stream->fError, code == kHostCodecError ? int16_t{kHostEndOfFile} : code);
    EXPECT_TRUE(code != kHostCodecError || std::string(JPEGLastErrorMessage()).rfind("Source EOF", 0) == 0);
    // Calls 1 to 3 are the first refill; later, the line that needs what is missing fails.
    const bool midScan = (failingRead == 0 || failingRead > 3) && !data.empty();
    EXPECT_EQ(lines > 0, midScan);
    // A failed start leaves no stream registered for the segments any decoder
    // meets; freeing (here without StopJPEG: LeakSanitizer checks the decoder's
    // memory goes) unregisters it.
    EXPECT_TRUE(midScan || gJPEGReadStream == nullptr);
    stream->Free();
    EXPECT_EQ(gJPEGReadStream, nullptr);
  }
}

// Refused allocations raise -108 from the factories and from gathering
// resources, never unwind through the codec, leak nothing, and leave a stream
// that still works (the write stream's spooling: see the write stream tests).
TEST(HostStreams, AllocationFailuresFailCleanly) {
  testing_support::TempDir dir;
  TFile in(testing_support::TestdataPath("retina.jpg")), out(dir.File("out.jpg"));
  for (int allowed : {0, 1}) {  // the file stream refused, then the JPEG stream (one refusal each)
    HostRefuseObjectAllocationAfter(allowed);
    EXPECT_EQ(FailureCode([&] { MakeJPEGReadFileStream(&in); }), kHostNoMemory);
    HostRefuseObjectAllocationAfter(allowed);
    EXPECT_EQ(FailureCode([&] { MakeJPEGWriteFileStream(&out); }), kHostNoMemory);
  }
  EXPECT_EQ(FailureCode([] { MakeJPEGReadFolioprintStream(nullptr); }), kHostParamError);
  std::remove(out.Path().c_str());
  for (int allowed : {0, 1}) {  // the first piece, or growing for the second
    TMemoryStream source(SmallJpeg(Cat({Piece(ResourceBytes(100)), Piece({1})})));
    TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
    JPEGReadInfo info{};
    HostRefuseHandleAllocationAfter(allowed);
    EXPECT_EQ(FailureCode([&] { stream->StartJPEG(&info, 0); }), kHostNoMemory);
    stream->Free();
  }
}
