// test_jpeg_write_stream.cpp - TJPEGWriteStream: files written to disk and
// read back through TJPEGReadStream (a matrix over quality, ASCII85, colours,
// resource sizes, the no-JFIF marker mode and lines wider than 32767 bytes,
// with the exact bytes of the resource segments), bad calls and a refused allocation, and saves to a
// file that fail in every way without harming the file they were to replace.
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <numeric>

#include "host_test_util.h"


TEST(WriteStream, FilesReadBackWithResourcesResolutionAndPixels) {
  struct Case { int quality, ascii85, colors, resourceBytes, markerMode, width = 37; };  // markerMode 1: no JFIF
  // Every quality, both encodings, every colour count, and every chunking
  // case in plain files (where the segment bytes are checked). Then lines
  // wider than a Stm's 16-bit count, taken and given back whole (the width
  // field read unsigned, up to 65535), plain and ASCII85.
  const Case cases[] = {{0, 0, 1, 0, 0},     {1, 1, 3, 100000, 0}, {2, 0, 3, 1, 0},      {3, 0, 4, 32000, 0},
                        {4, 1, 1, 32001, 0}, {5, 0, 2, 32001, 0},  {6, 1, 4, 1, 0},      {6, 0, 3, 100000, 1},
                        {6, 0, 3, 0, 0, 40000}, {6, 0, 1, 0, 0, 65535}, {1, 1, 4, 0, 0, 16384}, {0, 1, 3, 0, 0, 40000}};
  const testing_support::TempDir dir;  // its own folder: runs side by side never share the file
  const std::string path = dir.File("roundtrip.jpg");
  TFile file(path);
  long previousQuantizers = 1 << 30;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "quality " << c.quality << " colours " << c.colors << " width " << c.width);
    const Image img = SyntheticImage(c.width, 29, c.colors, static_cast<uint32_t>(c.quality + 1));
    const Bytes resources = ResourceBytes(static_cast<size_t>(c.resourceBytes), c.quality);
    TJPEGWriteStream* out = MakeJPEGWriteFileStream(&file);
    out->fUserMarkers = HandleWith(resources);
    WriteImage(out, img, Options(img, c.quality, c.markerMode, 150), c.ascii85);
    FreeLargeHandle(out->fUserMarkers);  // the caller's, never the stream's
    out->Free();

    TJPEGReadStream* in = MakeJPEGReadFileStream(&file);
    JPEGReadInfo info{};
    Image back = ReadImage(in, &info, c.ascii85);
    EXPECT_EQ(HandleBytes(in->fResources), resources);
    EXPECT_EQ(in->fResolution, c.markerMode == 1 ? 0 : 150 << 16);
    in->Free();
    EXPECT_EQ(info.colorCode, c.colors == 3 ? 0 : c.colors == 4 ? 1 : c.colors + 1);
    EXPECT_GT(testing_support::Psnr(back, img), c.quality == 0 ? 26.0 : 28.0);  // 0 is the coarsest

    const Bytes bytes = testing_support::ReadFileBytes(path);
    EXPECT_TRUE(!c.ascii85 || Bytes(bytes.end() - 2, bytes.end()) == Str("~>", 2));  // the end mark
    if (c.ascii85) continue;
    // SOI, JFIF (units 1) unless left out, then the resources in segments
    // of at most 32000 bytes after the signature (length field n + 16).
    Bytes head = c.markerMode == 1 ? Bytes{0xFF, 0xD8} : Cat({{0xFF, 0xD8}, JFIF(1, 150)});
    for (size_t at = 0; at < resources.size(); at += 32000)
      head = Cat({head, Piece(Bytes(&resources[at], &resources[std::min(at + 32000, resources.size()) - 1] + 1))});
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(head.size())), head);
    EXPECT_NE(bytes.at(head.size() + 1), 0xED);  // and no further one
    // Finer quantizers with every quality step: the first table of the DQT
    // segment (after DB, length and Pq/Tq; no DB byte comes between).
    const auto dqt = std::find(bytes.begin() + static_cast<long>(head.size()), bytes.end(), 0xDB) + 4;
    const long quantizers = std::accumulate(dqt, dqt + 64, 0L);
    EXPECT_LE(quantizers, std::exchange(previousQuantizers, quantizers));
    // The reference reads it (up to its own 65500-sample limit).
    EXPECT_TRUE(c.colors == 2 || c.width > 65500 || testing_support::LibjpegDecode(bytes, &back));
  }
}

// Bad calls, and a refused allocation while spooling the resources, leave a
// stream that still works.
TEST(WriteStream, BadCallsAreRefusedWithTheCodecsReason) {
  const Image img = SyntheticImage(32, 32, 3);
  TMemoryStream target;
  TJPEGWriteStream* stream = MakeJPEGWriteFolioprintStream(&target);
  for (const JPEGWriteOptions& bad : {Options(img, -1), Options(img, 7), Options({0, 32, 3, {}}, 3)})
    EXPECT_EQ(FailureCode([&] { stream->StartJPEG(bad, 0); }), kHostParamError);
  EXPECT_EQ(FailureCode([&] { WriteLines(stream, img, 1); }), kHostParamError);  // not started
  for (unsigned char ascii85 : {0, 1}) {  // the encoder refuses: its memory is released
    EXPECT_EQ(FailureCode([&] { stream->StartJPEG(Options({32, 32, 5, {}}, 3), ascii85); }), kHostCodecError);
    EXPECT_STREQ(JPEGLastErrorMessage(), "Wrong number of colors!");
  }
  EXPECT_TRUE(target.Contents().empty());
  stream->fUserMarkers = HandleWith(ResourceBytes(10));
  HostRefuseHandleAllocationAfter(0);
  EXPECT_EQ(FailureCode([&] { stream->StartJPEG(Options(img, 3), 0); }), kHostNoMemory);
  EXPECT_EQ(FailureCode([&] { WriteImage(stream, img, Options(img, 3), 0); }), 0);
  FreeLargeHandle(stream->fUserMarkers);
  stream->Free();
}

// A line of the wrong length, or a line more than the image has, fails the
// PutJPEGRaster that passes it with the codec's reason (-36: no host error
// was recorded), every later line fails too, StopJPEG reports the codec
// failure, and the target never gets an end of image. Plain and ASCII85.
TEST(WriteStream, WrongLinesAreCodecFailures) {
  const struct { int width, goodLines; long badLength; const char* message; } cases[] = {
      {24, 0, 71, "Raster line of 71 bytes; the image's lines have 72"},  // the first line
      {24, 19, 0, "Raster line of 0 bytes; the image's lines have 72"},  // the last line
      {24, 20, 72, "Raster data past the end of the image's 20 lines"},
      // Lines wider than the encode filter takes at once: the real line length.
      {40000, 1, 32766, "Raster line of 32766 bytes; the image's lines have 120000"},
  };
  for (const auto& c : cases) {
    const Image img = SyntheticImage(c.width, 20, 3);
    const long kLine = c.width * 3;
    Bytes line(static_cast<size_t>(std::max(kLine, c.badLength)), 0x40);
    for (unsigned char ascii85 : {0, 1}) {
      SCOPED_TRACE(testing::Message() << c.message << (ascii85 ? ", ASCII85" : ""));
      TMemoryStream target;
      TJPEGWriteStream* stream = MakeJPEGWriteFolioprintStream(&target);
      stream->StartJPEG(Options(img, 3), ascii85);
      WriteLines(stream, img, c.goodLines);
      gJPEGError = 0;
      char* bad = reinterpret_cast<char*>(line.data());
      EXPECT_EQ(FailureCode([&] { stream->PutJPEGRaster(bad, c.badLength); }), kHostIOError);
      EXPECT_STREQ(JPEGLastErrorMessage(), c.message);
      EXPECT_EQ(gJPEGError, 1);
      EXPECT_EQ(FailureCode([&] { stream->PutJPEGRaster(bad, kLine); }), kHostIOError);
      EXPECT_EQ(FailureCode([&] { stream->StopJPEG(); }), kHostCodecError);
      stream->Free();  // passes on what the host stream buffered
      const Bytes out = target.Contents();
      if (ascii85) {  // the text still gets its end mark
        EXPECT_TRUE(out.size() >= 2 && Bytes(out.end() - 2, out.end()) == Str("~>", 2));
        continue;
      }
      // The header goes out with the first line, so a bad first line leaves nothing.
      ASSERT_TRUE(c.goodLines > 0 || out.empty());
      if (out.empty()) continue;
      EXPECT_EQ(Bytes(out.begin(), out.begin() + 2), Bytes({0xFF, 0xD8}));
      EXPECT_FALSE(out[out.size() - 2] == 0xFF && out.back() == 0xD9);
    }
  }
}

namespace {

namespace fs = std::filesystem;
using Save = std::function<void(TJPEGWriteStream*)>;

// Saves through MakeJPEGWriteFileStream to path; the code the save raised.
int16_t SaveTo(const std::string& path, const Save& save) {
  TFile file(path);
  TJPEGWriteStream* stream = MakeJPEGWriteFileStream(&file);
  const int16_t code = FailureCode([&] { save(stream); });
  stream->Free();
  return code;
}

// Saves img with every write past 4096 bytes of a file refused (EFBIG).
void SaveUnderFileSizeLimit(TJPEGWriteStream* stream, const Image& img) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const rlimit limit{4096, old.rlim_max};
  setrlimit(RLIMIT_FSIZE, &limit);
  const int16_t code = FailureCode([&] { WriteImage(stream, img, Options(img, 6), 0); });
  setrlimit(RLIMIT_FSIZE, &old);
  FailOSErr(code);
}

}  // namespace

// A save that fails leaves the file it was to replace byte for byte as it
// was, and nothing beside it: refused options, a wrong line (the codec's
// failure mid-image), a stop before the last line, a stream freed before its
// stop (LeakSanitizer checks the encoder and ASCII85 memory go), a write past the file-size limit, a full disk and a read-only one
// (the folder is a 64 KB tmpfs when this process may mount one). A save that
// succeeds replaces the file a chain of links leads to, keeping the links and
// the file's permission bits.
TEST(WriteStream, FailedSavesKeepTheFileTheyWereToReplace) {
  const Image img = testing_support::LoadTestImage("astronaut.ppm"), small = SyntheticImage(40, 30, 3);
  const JPEGWriteOptions o = Options(img, 6), so = Options(small, 3);
  char folder[] = "/tmp/jpeg_saveXXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string dir = folder, target = dir + "/photo.jpg", link = dir + "/link", chain = dir + "/chain";
  const bool tmpfs = mount("tmpfs", folder, "tmpfs", 0, "size=64k") == 0;
  if (!tmpfs) std::printf("no tmpfs may be mounted here: the full disk is left untested\n");
  const Bytes old = ResourceBytes(20000);
  testing_support::WriteFileBytes(target, old);
  fs::create_symlink("photo.jpg", link);
  fs::create_symlink(link, chain);
  char line[1] = {0};
  std::vector<std::pair<Save, int16_t>> failures = {
      {[&](TJPEGWriteStream* s) { s->StartJPEG(Options(img, 9), 0); }, kHostParamError},
      {[&](TJPEGWriteStream* s) { s->StartJPEG(so, 0), WriteLines(s, small, 9), s->PutJPEGRaster(line, 1); }, kHostIOError},
      {[&](TJPEGWriteStream* s) { s->StartJPEG(so, 1), WriteLines(s, small, 20), s->StopJPEG(); }, kHostCodecError},
      {[&](TJPEGWriteStream* s) { s->StartJPEG(so, 1), WriteLines(s, small, small.height); }, 0},
      {[&](TJPEGWriteStream* s) { SaveUnderFileSizeLimit(s, img); }, kHostIOError},
  };
  if (tmpfs) failures.push_back({[&](TJPEGWriteStream* s) { WriteImage(s, img, o, 0); }, kHostDiskFull});
  for (const auto& [save, code] : failures) {
    EXPECT_EQ(SaveTo(chain, save), code) << &save - &failures[0].first;
    EXPECT_TRUE(testing_support::ReadFileBytes(target) == old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);  // nothing beside it
  }
  const fs::perms perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(target, perms);
  EXPECT_EQ(SaveTo(chain, [&](TJPEGWriteStream* s) { WriteImage(s, small, so, 0); }), 0);
  Image back;
  EXPECT_TRUE(testing_support::LibjpegDecode(testing_support::ReadFileBytes(target), &back));
  EXPECT_TRUE(fs::is_symlink(link) && fs::is_symlink(chain) && fs::status(target).permissions() == perms);
  if (tmpfs) {
    const Bytes saved = testing_support::ReadFileBytes(target);
    ASSERT_EQ(mount(nullptr, folder, nullptr, MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
    EXPECT_EQ(FailureCode([&] { SaveTo(chain, [](TJPEGWriteStream*) {}); }), kHostPermission);
    EXPECT_TRUE(testing_support::ReadFileBytes(target) == saved);
    umount2(folder, MNT_DETACH);
  }
  fs::remove_all(dir);
}
