// peer_tools.cpp - files written by other programs at test time (the
// reference library's cjpeg, ImageMagick's convert, Pillow through the
// system python) and the reference djpeg's reading of them, so decoder
// tests compare against what other programs write and show, never against
// stored copies; and what djpeg, ImageMagick, Pillow and Ghostscript (a
// page-description program placing the file) show of a file of ours.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "support/test_support.h"

namespace testing_support {
namespace {

void Run(const std::string& command) {
  const int status = std::system((command + " 2>/dev/null").c_str());
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("peer command failed: " + command);
  }
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

}  // namespace

Bytes PeerEncode(PeerWriter writer, const Image& img) {
  TempDir dir;
  const std::string in = dir.File(img.colors == 1 ? "in.pgm" : "in.ppm"), out = dir.File("out.jpg");
  WritePNM(in, img);
  switch (writer) {
    case PeerWriter::kCjpegRgb:
      Run("cjpeg -rgb -outfile " + Quoted(out) + " " + Quoted(in));
      break;
    case PeerWriter::kMagickCmyk:
      Run("convert " + Quoted(in) + " -colorspace CMYK " + Quoted(out));
      break;
    case PeerWriter::kMagickCmykSubsampled:  // luma and black sampled 1x4, chroma 1x1
      Run("convert " + Quoted(in) + " -colorspace CMYK -sampling-factor 1x4,1x1,1x1,1x4 " + Quoted(out));
      break;
    case PeerWriter::kPillowCmyk:
      Run("/usr/bin/python3 -c \"import sys; from PIL import Image; "
          "Image.open(sys.argv[1]).convert('CMYK').save(sys.argv[2], quality=90)\" " +
          Quoted(in) + " " + Quoted(out));
      break;
  }
  return ReadFileBytes(out);
}

Bytes PeerFileFromShell(const std::string& command) {
  TempDir dir;
  Run("cd " + Quoted(dir.path) + " && " + command);
  return ReadFileBytes(dir.File("out.jpg"));
}

Image DjpegDecode(const Bytes& jpeg) {
  TempDir dir;
  WriteFileBytes(dir.File("in.jpg"), jpeg);
  Run("djpeg -pnm -nosmooth -outfile " + Quoted(dir.File("out.pnm")) + " " + Quoted(dir.File("in.jpg")));
  return LoadPNM(dir.File("out.pnm"));
}

namespace {

// A page-description program that draws exactly the CMYK image at 72 dpi, the file placed as
// a DCTDecode image (hex-wrapped) with the Decode array page-description
// programs give JPEG CMYK, whose ink is stored inverted.
std::string PlacedOnPage(const Bytes& jpeg, int width, int height) {
  const std::string w = std::to_string(width), h = std::to_string(height);
  std::string ps = "%!PS\n" + w + " " + h + " scale /DeviceCMYK setcolorspace << /ImageType 1 /Width " + w +
                   " /Height " + h + " /BitsPerComponent 8 /Decode [1 0 1 0 1 0 1 0] /ImageMatrix [" + w +
                   " 0 0 -" + h + " 0 " + h + "] /DataSource currentfile /ASCIIHexDecode filter /DCTDecode filter >> image\n";
  static const char kHex[] = "0123456789abcdef";
  for (uint8_t b : jpeg) ps += {kHex[b >> 4], kHex[b & 15]};
  return ps + ">\nshowpage\n";
}

}  // namespace

Image PeerRead(PeerReader reader, const Bytes& jpeg, int width, int height) {
  if (reader == PeerReader::kDjpeg) return DjpegDecode(jpeg);
  TempDir dir;
  const std::string in = Quoted(dir.File("in.jpg")), out = Quoted(dir.File("out.pam"));
  WriteFileBytes(dir.File("in.jpg"), jpeg);
  switch (reader) {
    case PeerReader::kMagick:
      Run("convert " + in + " " + out);
      break;
    case PeerReader::kPillow:  // the samples as Pillow holds them, in a PAM file
      Run("/usr/bin/python3 -c \"import sys; from PIL import Image; i = Image.open(sys.argv[1]); "
          "open(sys.argv[2], 'wb').write(b'P7 WIDTH %d HEIGHT %d DEPTH %d MAXVAL 255 ENDHDR\\n' % "
          "(i.width, i.height, len(i.getbands())) + i.tobytes())\" " + in + " " + out);
      break;
    case PeerReader::kGhostscript: {
      const std::string ps = PlacedOnPage(jpeg, width, height);
      WriteFileBytes(dir.File("in.ps"), Bytes(ps.begin(), ps.end()));
      Run("gs -q -dNOPAUSE -dBATCH -dSAFER -r72 -sDEVICE=pamcmyk32 -g" + std::to_string(width) + "x" +
          std::to_string(height) + " -sOutputFile=" + out + " " + Quoted(dir.File("in.ps")));
      break;
    }
    case PeerReader::kDjpeg:
      break;
  }
  return LoadPNM(dir.File("out.pam"));
}

Image InkToRgb(const Image& cmyk) {
  Image rgb;
  rgb.width = cmyk.width;
  rgb.height = cmyk.height;
  rgb.colors = 3;
  for (size_t i = 0; i + 3 < cmyk.pixels.size(); i += 4) {
    const double white = 255.0 - cmyk.pixels[i + 3];
    for (int c = 0; c < 3; c++) {
      rgb.pixels.push_back(static_cast<uint8_t>((255.0 - cmyk.pixels[i + c]) * white / 255.0 + 0.5));
    }
  }
  return rgb;
}

Image InvertedInks(Image img) {
  for (uint8_t& v : img.pixels) v = static_cast<uint8_t>(255 - v);
  return img;
}

void WritePNM(const std::string& path, const Image& img) {
  const char* magic = img.colors == 1 ? "P5" : "P6";
  if (img.colors != 1 && img.colors != 3) throw std::runtime_error("PNM holds 1 or 3 colours");
  const std::string header =
      std::string(magic) + "\n" + std::to_string(img.width) + " " + std::to_string(img.height) + "\n255\n";
  Bytes bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), img.pixels.begin(), img.pixels.end());
  WriteFileBytes(path, bytes);
}

}  // namespace testing_support
