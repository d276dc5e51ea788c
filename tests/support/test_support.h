// test_support.h - what the test programs share: test images, PSNR, memory
// streams (a sink that collects what a filter writes, a source that feeds
// bytes in pieces of any size with the decoder's 0xFF guard byte), and the
// system libjpeg as a reference peer.
#ifndef JPEG_TESTS_SUPPORT_TEST_SUPPORT_H
#define JPEG_TESTS_SUPPORT_TEST_SUPPORT_H

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "stm.h"

namespace testing_support {

using Bytes = std::vector<uint8_t>;

struct Image {
  int width = 0;
  int height = 0;
  int colors = 0;
  Bytes pixels;  // interleaved, width * colors bytes per line
  const uint8_t* Row(int y) const { return &pixels[static_cast<size_t>(y) * width * colors]; }
};

// A fresh directory under the system's temporary folder, removed with
// everything in it.
struct TempDir {
  std::string path;
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  std::string File(const std::string& name) const { return path + "/" + name; }
};

std::string TestdataPath(const std::string& name);
Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);

// Binary PNM: P5, P6, or P7 with DEPTH 1..4, MAXVAL 255.
Image LoadPNM(const std::string& path);
Image LoadTestImage(const std::string& name);  // from testdata/
// A deterministic synthetic image (smooth gradients plus some texture).
Image SyntheticImage(int width, int height, int colors, uint32_t seed = 1);
// The top-left width x height part of img (clamped to its size).
Image Crop(const Image& img, int width, int height);
// tile repeated across and down to width x height (wide images with real
// picture content).
Image Tiled(const Image& tile, int width, int height);

// Byte surgery on JPEG files. Entropy-coded data never holds FF followed by a
// marker code other than RSTn, so a search for FF code finds segments only.
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline Bytes Slice(const Bytes& j, long from, long to) { return Bytes(j.begin() + from, j.begin() + to); }
inline Bytes Insert(const Bytes& j, long at, const Bytes& bytes) { return Cat({Slice(j, 0, at), bytes, Slice(j, at, j.size())}); }
inline Bytes Be16(uint32_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
// One marker segment: FF, marker, length (payload + 2), payload.
inline Bytes Segment(uint8_t marker, const Bytes& payload) {
  return Cat({{0xFF, marker}, Be16(static_cast<uint32_t>(payload.size() + 2)), payload});
}
// Offsets of every FF `code` in j; of the first one (j.size() when none); the end of the segment at `at`.
inline std::vector<long> Markers(const Bytes& j, uint8_t code) {
  std::vector<long> at;
  for (size_t i = 0; i + 1 < j.size(); i++)
    if (j[i] == 0xFF && j[i + 1] == code) at.push_back(static_cast<long>(i));
  return at;
}
inline long FindMarker(const Bytes& j, uint8_t code) {
  const std::vector<long> at = Markers(j, code);
  return at.empty() ? static_cast<long>(j.size()) : at[0];
}
inline long SegmentEnd(const Bytes& j, long at) { return at + 2 + (j[at + 2] << 8) + j[at + 3]; }

// Peak signal-to-noise ratio over all samples (99 dB for identical inputs).
double Psnr(const Bytes& a, const Bytes& b);
double Psnr(const Image& a, const Image& b);

// The fuzz targets' memory sink and source (fuzz/fuzz_support.h), owning
// their bytes. MemSink: bufSize sets the Stm buffer size; when failAfter >=
// 0, a flush that would take the total past failAfter bytes fails (error
// flag set, -1 returned); Contents() includes the bytes still buffered.
// MemSource: delivers `data` in pieces, piece k holding pieceSize(k) bytes
// (1..32767), each refill followed by the 0xFF guard byte.
class MemSink {
 public:
  explicit MemSink(uint16_t bufSize = 4096, long failAfter = -1) {
    fuzz::InitSink(&sink_, bufSize, failAfter < 0 ? fuzz::kNeverFails : static_cast<size_t>(failAfter));
  }
  MemSink(const MemSink&) = delete;
  MemSink& operator=(const MemSink&) = delete;
  Stm* stm() { return &sink_.stm; }
  Bytes Contents() const { return fuzz::SinkContents(sink_); }

 private:
  fuzz::MemorySink sink_;
};

class MemSource {
 public:
  using PieceFn = std::function<size_t(size_t pieceIndex)>;
  explicit MemSource(Bytes data, size_t pieceSize = 8192)
      : MemSource(std::move(data), [pieceSize](size_t) { return pieceSize; }) {}
  MemSource(Bytes data, PieceFn pieceSize) : data_(std::move(data)) {
    fuzz::InitSource(&src_, data_.data(), data_.size(), 32767);
    src_.pieceFn = std::move(pieceSize);
  }
  MemSource(const MemSource&) = delete;
  MemSource& operator=(const MemSource&) = delete;
  Stm* stm() { return &src_.stm; }
  size_t consumed() const { return src_.position; }

 private:
  Bytes data_;
  fuzz::MemorySource src_;
};

// libjpeg-turbo as a reference peer.
struct LibjpegOptions {
  int quality = 75;
  int hSamp0 = 2, vSamp0 = 2;  // luma sampling for 3-component images (4:2:0 default)
  int restartInterval = 0;     // in MCUs
  int restartInRows = 0;       // in MCU rows
  bool optimize = false;
  bool progressive = false;
  bool arithmetic = false;
};
Bytes LibjpegEncode(const Image& img, const LibjpegOptions& options = {});
// Decodes with libjpeg. fancyUpsampling off gives plain replication, the way
// our decoder upsamples. Four-component files come back as libjpeg's CMYK
// (a YCCK file converted; ink as stored), two-component files and, with
// rawComponents, every file as the raw components (no colour conversion);
// reduced by scaleDenominator inside the inverse DCT (djpeg -scale 1/N).
// Returns false (and a message) on failure or when libjpeg warned about the data.
bool LibjpegDecode(const Bytes& jpeg, Image* out, bool fancyUpsampling = false,
                   std::string* message = nullptr, bool rawComponents = false, int scaleDenominator = 1);

// Other programs as peers, run at test time (peer_tools.cpp). PeerEncode
// writes img (1 or 3 colours) as a JPEG file the way the named program does:
// RGB coded without transform, or CMYK (YCCK, or plain CMYK for Pillow)
// converted from RGB, with the ink inverted the way those programs store it.
enum class PeerWriter { kCjpegRgb, kMagickCmyk, kMagickCmykSubsampled, kPillowCmyk };
Bytes PeerEncode(PeerWriter writer, const Image& img);
// What the reference djpeg shows for a file (-pnm -nosmooth): grey or RGB;
// a CMYK file comes out as RGB, computed on the assumption of inverted ink.
Image DjpegDecode(const Bytes& jpeg);
// What another program shows of a width x height file: djpeg as
// DjpegDecode; ImageMagick's and Pillow's samples as read (CMYK with 0 = no
// ink); Ghostscript's page of a CMYK file placed as a DCTDecode image (with
// the inverted-ink Decode array), rendered as CMYK.
enum class PeerReader { kDjpeg, kMagick, kPillow, kGhostscript };
Image PeerRead(PeerReader reader, const Bytes& jpeg, int width, int height);
// CMYK with 0 = no ink (as our decoder delivers it) to RGB the way djpeg
// shows a CMYK file.
Image InkToRgb(const Image& cmyk);
// Every sample turned to 255 minus itself (between the two ink polarities).
Image InvertedInks(Image img);
void WritePNM(const std::string& path, const Image& img);  // P5 or P6
// Runs a shell command in a fresh scratch directory and returns the file
// out.jpg it wrote there (for peer files too large to hold as an Image).
Bytes PeerFileFromShell(const std::string& command);

}  // namespace testing_support

#endif
