// demo.cpp - the demo command: the built-in photograph through every
// quality index, plain and ASCII85, with a table of size, quality and speed
// and an SVG chart of PSNR against bits per pixel; then through a few
// qualities of the familiar 1..100 scale (--quality). When the system's
// cjpeg and djpeg are installed, the chart and the tables show what they
// make of the same photograph at matching file sizes and at the same
// 1..100 qualities.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cli.h"
#include "commands.h"
#include "embedded_photo.h"
#include "file_io.h"
#include "host_codec.h"
#include "jpeg_options.h"
#include "jpeg_stream.h"
#include "pnm_io.h"
#include "svg_chart.h"
#include "tool_error.h"

namespace jpegtool {
namespace {

constexpr double kIdenticalPsnr = 99.0;  // reported when nothing differs

struct DemoRow {
  int quality = 0;
  size_t bytes = 0, ascii85Bytes = 0;
  double bitsPerPixel = 0, psnr = 0, encodeMs = 0, decodeMs = 0;
};

struct PeerRow {
  int quality = 0;  // cjpeg -quality
  size_t bytes = 0;
  double bitsPerPixel = 0, psnr = 0;
};

// The photograph at one quality of the 1..100 scale (--quality): ours, and
// the peer at the same number when it is installed.
struct ScaleRow {
  DemoRow ours;
  PeerRow peer;
};
const int kScaleQualities[] = {30, 50, 75, 90, 95};

double Psnr(const Image& a, const Image& b) {
  if (a.pixels.size() != b.pixels.size()) Fail("demo failed: the decoded image has the wrong size");
  double squares = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    const double d = static_cast<double>(a.pixels[i]) - b.pixels[i];
    squares += d * d;
  }
  if (squares == 0) return kIdenticalPsnr;
  const double mse = squares / static_cast<double>(a.pixels.size());
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

// Timings are the best of a few runs (--runs): the machine may be busy with
// other work, and the fastest run is the one least disturbed by it.
constexpr int kDefaultTimedRuns = 3;
constexpr int kMostTimedRuns = 100;

template <typename Work>
double BestMilliseconds(int runs, Work work) {
  double best = 0;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (run == 0 || ms < best) best = ms;
  }
  return best;
}

size_t FileSize(const std::string& path) { return ReadWholeFile(path).size(); }

// One row: the photograph encoded with settings into base.jpg and .a85.
DemoRow RunSettings(const Image& photo, EncodeSettings settings, const std::string& base, int runs) {
  DemoRow row;
  const int quality = settings.scale > 0 ? settings.scale : settings.quality;
  row.quality = quality;
  settings.quiet = true;
  row.encodeMs = BestMilliseconds(runs, [&] { EncodeImageToFile(photo, settings, base + ".jpg"); });
  settings.ascii85 = true;
  EncodeImageToFile(photo, settings, base + ".a85");
  Image plain;
  row.decodeMs = BestMilliseconds(runs, [&] { plain = DecodeJpegFile(base + ".jpg", false); });
  const Image wrapped = DecodeJpegFile(base + ".a85", true);
  if (wrapped.pixels != plain.pixels) {
    Fail("demo failed: the ASCII85 file of quality " + std::to_string(quality) + " decodes differently");
  }
  row.bytes = FileSize(base + ".jpg");
  row.ascii85Bytes = FileSize(base + ".a85");
  row.bitsPerPixel = 8.0 * row.bytes / (static_cast<double>(photo.width) * photo.height);
  row.psnr = Psnr(photo, plain);
  return row;
}

DemoRow RunQuality(const Image& photo, int quality, const std::string& directory, int runs) {
  EncodeSettings settings;
  settings.quality = quality;
  return RunSettings(photo, settings, directory + "/coffee-q" + std::to_string(quality), runs);
}

std::string FormatTable(const Image& photo, const std::vector<DemoRow>& rows) {
  std::string table = "built-in photograph: " + std::to_string(photo.width) + "x" +
                      std::to_string(photo.height) + " RGB, " + std::to_string(photo.pixels.size()) +
                      " bytes of pixels\n";
  table += "quality  QFactor    bytes  a85 bytes     bpp  PSNR dB  encode ms  decode ms\n";
  char line[160];
  for (const DemoRow& row : rows) {
    std::snprintf(line, sizeof line, "%7d  %7.2f  %7zu  %9zu  %6.3f  %7.2f  %9.1f  %9.1f\n", row.quality,
                  TJPEGWriteStream::QFactorFor(row.quality), row.bytes, row.ascii85Bytes, row.bitsPerPixel, row.psnr,
                  row.encodeMs, row.decodeMs);
    table += line;
  }
  return table;
}

// --- the peer at matching sizes ----------------------------------------------


bool HavePeer() { return std::system("command -v cjpeg >/dev/null 2>&1 && command -v djpeg >/dev/null 2>&1") == 0; }

// cjpeg at one quality on the photograph; the file's size in bytes.
size_t PeerEncode(const std::string& directory, int quality) {
  const std::string command = "cjpeg -quality " + std::to_string(quality) + " -outfile '" + directory +
                              "/peer.jpg' '" + directory + "/coffee.ppm'";
  if (std::system(command.c_str()) != 0) Fail("demo failed: cjpeg did not run");
  return ReadWholeFile(directory + "/peer.jpg").size();
}

// The peer's file at one quality, decoded and measured.
PeerRow MeasurePeer(const Image& photo, const std::string& directory, int quality) {
  PeerRow row;
  row.quality = quality;
  row.bytes = PeerEncode(directory, quality);
  const std::string decode = "djpeg -pnm -outfile '" + directory + "/peer.ppm' '" + directory + "/peer.jpg'";
  if (std::system(decode.c_str()) != 0) Fail("demo failed: djpeg did not run");
  const Bytes decoded = ReadWholeFile(directory + "/peer.ppm");
  row.psnr = Psnr(photo, ParsePnm(decoded.data(), decoded.size(), "djpeg output"));
  row.bitsPerPixel = 8.0 * row.bytes / (static_cast<double>(photo.width) * photo.height);
  std::remove((directory + "/peer.jpg").c_str());
  std::remove((directory + "/peer.ppm").c_str());
  return row;
}

// cjpeg's quality (1..100) whose file is closest in size to bytes; sizes
// grow with the quality.
PeerRow PeerAtSize(const Image& photo, const std::string& directory, size_t bytes) {
  int low = 1, high = 100;
  while (low < high) {
    const int middle = (low + high) / 2;
    if (PeerEncode(directory, middle) < bytes) low = middle + 1;
    else high = middle;
  }
  int quality = low;
  if (low > 1) {
    const size_t at = PeerEncode(directory, low), below = PeerEncode(directory, low - 1);
    if (bytes - below < at - bytes) quality = low - 1;
  }
  return MeasurePeer(photo, directory, quality);
}

// --quality N: ours, and the peer at the same number (all 2x2 chroma).
ScaleRow RunScale(const Image& photo, int quality, const std::string& directory, int runs, bool peer) {
  EncodeSettings settings;
  settings.scale = quality;
  ScaleRow row{RunSettings(photo, settings, directory + "/coffee-Q" + std::to_string(quality), runs), {}};
  if (peer) row.peer = MeasurePeer(photo, directory, quality);
  return row;
}

std::string FormatScaleTable(const std::vector<ScaleRow>& rows, bool peer) {
  std::string table = "--quality 1..100 (QFactor 1.45 x the usual scale, 2x2 chroma)";
  table += peer ? ", beside cjpeg -quality at the same number:\n" : ":\n";
  table += "quality  QFactor    bytes     bpp  PSNR dB  encode ms" + std::string(peer ? "  cjpeg bytes     bpp  PSNR dB\n" : "\n");
  char line[160];
  for (const ScaleRow& row : rows) {
    const DemoRow& o = row.ours;
    std::snprintf(line, sizeof line, "%7d  %7.3f  %7zu  %6.3f  %7.2f  %9.1f", o.quality, JPEGQFactorForQuality(o.quality),
                  o.bytes, o.bitsPerPixel, o.psnr, o.encodeMs);
    table += line;
    if (peer) {
      std::snprintf(line, sizeof line, "  %11zu  %6.3f  %7.2f", row.peer.bytes, row.peer.bitsPerPixel, row.peer.psnr);
      table += line;
    }
    table += "\n";
  }
  return table;
}

std::string FormatPeerTable(const std::vector<DemoRow>& rows, const std::vector<PeerRow>& peer) {
  std::string table = "cjpeg/djpeg at matching sizes:\n";
  table += "ours q  cjpeg -quality    bytes     bpp  PSNR dB\n";
  char line[160];
  for (size_t i = 0; i < peer.size(); ++i) {
    std::snprintf(line, sizeof line, "cjpeg %d  %14d  %7zu  %6.3f  %7.2f\n", rows[i].quality, peer[i].quality,
                  peer[i].bytes, peer[i].bitsPerPixel, peer[i].psnr);
    table += line;
  }
  return table;
}

// --- the chart ------------------------------------------------------------------

std::string MakeChart(const std::vector<DemoRow>& rows, const std::vector<PeerRow>& peer,
                      const std::vector<ScaleRow>& scale) {
  ChartSeries ours{"this codec (--level 0..6)", "#1f6fb4", {}};
  for (const DemoRow& row : rows) ours.points.push_back({row.bitsPerPixel, row.psnr, "q" + std::to_string(row.quality)});
  ChartSeries familiar{"this codec (--quality 1..100)", "#2a9d3c", {}};
  for (const ScaleRow& row : scale)
    familiar.points.push_back({row.ours.bitsPerPixel, row.ours.psnr, "Q" + std::to_string(row.ours.quality)});
  std::vector<ChartSeries> series{ours, familiar};
  if (!peer.empty()) {
    ChartSeries theirs{"cjpeg/djpeg at matching sizes", "#d9541e", {}};
    for (const PeerRow& row : peer) theirs.points.push_back({row.bitsPerPixel, row.psnr, ""});
    series.push_back(theirs);
  }
  // Subsampling stops between the last subsampled quality and the next.
  std::vector<ChartMarker> markers;
  const double edge = (rows[kFirstFullChromaQuality - 1].bitsPerPixel + rows[kFirstFullChromaQuality].bitsPerPixel) / 2;
  markers.push_back({edge, "q0-q" + std::to_string(kFirstFullChromaQuality - 1) + ": 2x2 chroma | q" +
                               std::to_string(kFirstFullChromaQuality) + "-q6: full chroma"});
  return RenderLineChartSvg(series, markers,
                            ChartText{"PSNR against bits per pixel (built-in photograph)", "bits per pixel", "PSNR (dB)"});
}

}  // namespace

int RunDemo(const Args& args) {
  static const CommandSpec kSpec{"demo", {{"runs", true}}, 0, 1};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("demo"), 0;
  const int runs = parsed.Has("runs") ? ParseIntInRange(parsed.Value("runs"), 1, kMostTimedRuns, "--runs")
                                      : kDefaultTimedRuns;
  const std::string directory = parsed.positionals.empty() ? "demo-out" : parsed.positionals[0];
  const Image photo = ParsePnm(EmbeddedPhotoData(), EmbeddedPhotoSize(), "built-in photograph");
  MakeDirectories(directory);
  WritePnmFile(directory + "/coffee.ppm", photo);
  std::vector<DemoRow> rows;
  for (int quality = 0; quality < kQualityLevels; ++quality)
    rows.push_back(RunQuality(photo, quality, directory, runs));
  std::vector<PeerRow> peer;
  const bool havePeer = HavePeer();
  if (havePeer) {
    for (const DemoRow& row : rows) peer.push_back(PeerAtSize(photo, directory, row.bytes));
  }
  std::vector<ScaleRow> scale;
  for (int quality : kScaleQualities) scale.push_back(RunScale(photo, quality, directory, runs, havePeer));
  std::string table = FormatTable(photo, rows);
  if (!peer.empty()) table += FormatPeerTable(rows, peer);
  table += FormatScaleTable(scale, havePeer);
  WriteWholeFile(directory + "/table.txt", table.data(), table.size());
  const std::string chart = MakeChart(rows, peer, scale);
  WriteWholeFile(directory + "/chart.svg", chart.data(), chart.size());
  if (parsed.quiet) return 0;
  std::fputs(table.c_str(), stdout);
  if (peer.empty()) std::printf("cjpeg/djpeg not found: the chart shows this codec alone\n");
  std::printf("times are the best of %d run%s\n", runs, runs == 1 ? "" : "s");
  std::printf("wrote %s/: coffee.ppm, coffee-q0..6.jpg, coffee-Q30..95.jpg and .a85, table.txt, chart.svg\n",
              directory.c_str());
  return 0;
}

}  // namespace jpegtool
