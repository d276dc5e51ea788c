// info_walker.cpp - the segment walker behind `jpegtool info` (and the
// decode command's hint for files the codec cannot read). Segment layouts
// are those of ITU-T T.81 Annex B; the application segments this codec
// writes and reads are described by their signatures.
#include "info_walker.h"

#include <cstdio>

#include "jpeg_marker_codes.h"
#include "jpeg_stream.h"
#include "jpeg_marker_codes.h"

namespace jpegtool {
namespace {

constexpr size_t kResourceIdentifierBytes = sizeof kJPEGResourceSignature;  // with its zero

// A bounds-checked view of one segment's payload.
struct Payload {
  const uint8_t* data;
  size_t size;
  bool Has(size_t offset, size_t count) const { return offset + count <= size; }
  int U8(size_t offset) const { return Has(offset, 1) ? data[offset] : 0; }
  int U16(size_t offset) const { return U8(offset) << 8 | U8(offset + 1); }
  bool StartsWith(const char* text, size_t count) const {
    if (!Has(0, count)) return false;
    for (size_t i = 0; i < count; ++i) {
      if (data[i] != static_cast<uint8_t>(text[i])) return false;
    }
    return true;
  }
};

std::string Format(const char* format, long a, long b = 0, long c = 0, long d = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

bool IsFrameMarker(int code) { return JPEG_MARKER_IS_SOF(code); }
bool IsStandalone(int code) {
  return code == JPEG_MARKER_SOI || code == JPEG_MARKER_EOI || code == JPEG_MARKER_TEM || JPEG_MARKER_IS_RST(code);
}

std::string MarkerName(int code) {
  if (IsFrameMarker(code)) return "SOF" + std::to_string(code - JPEG_MARKER_SOF0);
  if (JPEG_MARKER_IS_RST(code)) return "RST" + std::to_string(code - JPEG_MARKER_RST0);
  if (JPEG_MARKER_IS_APP(code)) return "APP" + std::to_string(code - JPEG_MARKER_APP0);
  if (code >= JPEG_MARKER_JPG0 && code <= JPEG_MARKER_JPG13) return "JPG" + std::to_string(code - JPEG_MARKER_JPG0);
  switch (code) {
    case JPEG_MARKER_DHT:
      return "DHT";
    case JPEG_MARKER_JPG:
      return "JPG";
    case JPEG_MARKER_DAC:
      return "DAC";
    case JPEG_MARKER_SOI:
      return "SOI";
    case JPEG_MARKER_EOI:
      return "EOI";
    case JPEG_MARKER_SOS:
      return "SOS";
    case JPEG_MARKER_DQT:
      return "DQT";
    case JPEG_MARKER_DNL:
      return "DNL";
    case JPEG_MARKER_DRI:
      return "DRI";
    case JPEG_MARKER_DHP:
      return "DHP";
    case JPEG_MARKER_EXP:
      return "EXP";
    case JPEG_MARKER_COM:
      return "COM";
    case JPEG_MARKER_TEM:
      return "TEM";
    default:
      return "RES";
  }
}

// Up to 40 printable characters from the start of the payload.
std::string PrintablePrefix(const Payload& p, size_t start = 0) {
  std::string text;
  for (size_t i = start; i < p.size && text.size() < 40; ++i) {
    const int c = p.data[i];
    if (c == 0) break;
    text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
  }
  return text;
}

std::string DescribeFrame(const Payload& p, int code) {
  if (!p.Has(0, 6)) return "frame header too short";
  const int width = p.U16(3), height = p.U16(1), count = p.U8(5);
  std::string text = FrameKind(code) +
                     Format(", %ld-bit, %ldx%ld, %ld component", p.U8(0), width, height, count) +
                     (count == 1 ? "" : "s");
  for (int i = 0; i < count; ++i) {
    const size_t at = 6 + 3 * static_cast<size_t>(i);
    if (!p.Has(at, 3)) return text + " (truncated)";
    text += i == 0 ? ":" : ",";
    text += Format(" id %ld %ldx%ld q%ld", p.U8(at), p.U8(at + 1) >> 4, p.U8(at + 1) & 15, p.U8(at + 2));
  }
  return text;
}

std::string DescribeQuantization(const Payload& p) {
  std::string text = "tables:";
  for (size_t at = 0; at < p.size;) {
    const int precision = p.U8(at) >> 4, number = p.U8(at) & 15;
    const size_t tableBytes = 1 + (precision == 0 ? 64 : 128);
    text += Format(" %ld (%ld-bit)", number, precision == 0 ? 8 : 16);
    if (!p.Has(at, tableBytes)) return text + " (truncated)";
    at += tableBytes;
  }
  return text;
}

std::string DescribeHuffman(const Payload& p) {
  std::string text = "tables:";
  for (size_t at = 0; at < p.size;) {
    if (!p.Has(at, 17)) return text + " (truncated)";
    const int classAndNumber = p.U8(at);
    long symbols = 0;
    for (size_t i = 1; i <= 16; ++i) symbols += p.U8(at + i);
    text += std::string(" ") + ((classAndNumber >> 4) == 0 ? "DC" : "AC") +
            Format("%ld (%ld codes)", classAndNumber & 15, symbols);
    at += 17 + static_cast<size_t>(symbols);
    if (at > p.size) return text + " (truncated)";
  }
  return text;
}

std::string DescribeScan(const Payload& p) {
  const int count = p.U8(0);
  std::string text = Format("%ld component", count) + (count == 1 ? "" : "s");
  for (int i = 0; i < count; ++i) {
    const size_t at = 1 + 2 * static_cast<size_t>(i);
    if (!p.Has(at, 2)) return text + " (truncated)";
    text += i == 0 ? ":" : ",";
    text += Format(" id %ld (DC%ld AC%ld)", p.U8(at), p.U8(at + 1) >> 4, p.U8(at + 1) & 15);
  }
  const size_t tail = 1 + 2 * static_cast<size_t>(count);
  if (!p.Has(tail, 3)) return text + " (truncated)";
  return text + Format(", spectral %ld..%ld, approximation %ld/%ld", p.U8(tail), p.U8(tail + 1),
                       p.U8(tail + 2) >> 4, p.U8(tail + 2) & 15);
}

std::string DescribeJfif(const Payload& p) {
  static const char* const kUnits[] = {"no units (aspect ratio)", "dots per inch", "dots per cm"};
  const int units = p.U8(7);
  std::string text = Format("JFIF %ld.%02ld, density %ldx%ld ", p.U8(5), p.U8(6), p.U16(8), p.U16(10));
  text += units <= 2 ? kUnits[units] : Format("(units %ld)", units);
  return text + Format(", thumbnail %ldx%ld", p.U8(12), p.U8(13));
}

std::string DescribeApp13(const Payload& p) {
  if (p.size >= kResourceIdentifierBytes && p.StartsWith(kJPEGResourceSignature, kResourceIdentifierBytes)) {
    return "\"" + std::string(kJPEGResourceSignature) + "\"" +
           Format(" image resources, %ld bytes", static_cast<long>(p.size - kResourceIdentifierBytes));
  }
  if (p.size >= JPEG_OLD_RESOURCE_HEAD_BYTES && p.StartsWith(JPEG_OLD_RESOURCE_IDENTIFIER, JPEG_OLD_RESOURCE_IDENTIFIER_BYTES)) {
    const size_t at = JPEG_OLD_RESOURCE_IDENTIFIER_BYTES;  // the 16.16 resolution follows the identifier
    const uint32_t fixed = static_cast<uint32_t>(p.U16(at)) << 16 | static_cast<uint32_t>(p.U16(at + 2));
    char text[160];
    std::snprintf(text, sizeof text, "\"%s\" resolution %.2f dpi, image resources %ld bytes",
                  JPEG_OLD_RESOURCE_IDENTIFIER, fixed / 65536.0, static_cast<long>(p.size - JPEG_OLD_RESOURCE_HEAD_BYTES));
    return text;
  }
  if (p.size == JPEG_RESOLUTION_BODY_BYTES && p.StartsWith(JPEG_RESOLUTION_IDENTIFIER, JPEG_RESOLUTION_IDENTIFIER_BYTES)) {
    return "\"" + std::string(JPEG_RESOLUTION_IDENTIFIER) + "\"" + Format(" resolution %ld dpi", p.U16(JPEG_RESOLUTION_AT));
  }
  return "";
}

std::string DescribeApp14(const Payload& p) {
  if (p.size < JPEG_COLOUR_SEGMENT_BODY_BYTES ||
      !p.StartsWith(JPEG_COLOUR_SEGMENT_IDENTIFIER, JPEG_COLOUR_SEGMENT_IDENTIFIER_BYTES)) {
    return "";
  }
  static const char* const kTransforms[] = {"none", "YCbCr", "YCCK"};
  const int transform = p.U8(JPEG_COLOUR_SEGMENT_TRANSFORM_AT);
  return "\"" + std::string(JPEG_COLOUR_SEGMENT_IDENTIFIER) + "\"" + Format(" colour transform %ld", transform) +
         (transform <= 2 ? std::string(" (") + kTransforms[transform] + ")" : std::string(" (unknown)")) +
         Format(", version %ld, flags 0x%04lX 0x%04lX", p.U16(JPEG_COLOUR_SEGMENT_VERSION_AT),
                p.U16(JPEG_COLOUR_SEGMENT_FLAGS0_AT), p.U16(JPEG_COLOUR_SEGMENT_FLAGS1_AT));
}

std::string DescribeGeneric(const Payload& p, int code) {
  if (code == JPEG_MARKER_COM) return "comment \"" + PrintablePrefix(p) + "\"";
  const std::string signature = PrintablePrefix(p);
  if (signature.empty()) return Format("%ld bytes", static_cast<long>(p.size));
  return "signature \"" + signature + "\"" + Format(", %ld bytes", static_cast<long>(p.size));
}

std::string DescribeSegment(int code, const Payload& p) {
  if (IsFrameMarker(code)) return DescribeFrame(p, code);
  std::string text;
  switch (code) {
    case JPEG_MARKER_DQT:
      return DescribeQuantization(p);
    case JPEG_MARKER_DHT:
      return DescribeHuffman(p);
    case JPEG_MARKER_SOS:
      return DescribeScan(p);
    case JPEG_MARKER_DRI:
      return p.Has(0, 2) ? Format("restart interval %ld MCUs", p.U16(0)) : "too short";
    case JPEG_MARKER_APP0:
      if (p.size >= JPEG_JFIF_BODY_BYTES && p.StartsWith(JPEG_JFIF_IDENTIFIER, JPEG_JFIF_IDENTIFIER_BYTES)) return DescribeJfif(p);
      break;
    case JPEG_MARKER_APP13:
      text = DescribeApp13(p);
      break;
    case JPEG_MARKER_APP14:
      text = DescribeApp14(p);
      break;
  }
  return text.empty() ? DescribeGeneric(p, code) : text;
}

// Finds the end of entropy-coded data starting at pos: the first marker that
// is neither a stuffed zero nor a restart marker. Returns its offset, or size.
size_t SkipScanData(const uint8_t* data, size_t size, size_t pos, long* restarts) {
  while (pos + 1 < size) {
    if (data[pos] != JPEG_MARKER_PREFIX) {
      ++pos;
      continue;
    }
    const int next = data[pos + 1];
    if (next == 0x00 || next == JPEG_MARKER_PREFIX) {
      pos += next == 0x00 ? 2 : 1;
    } else if (JPEG_MARKER_IS_RST(next)) {
      ++*restarts;
      pos += 2;
    } else {
      return pos;
    }
  }
  return size;
}

void Add(JpegSummary* summary, size_t offset, int marker, long length, const std::string& detail) {
  SegmentInfo segment;
  segment.offset = offset;
  segment.marker = marker;
  segment.length = length;
  segment.name = marker == 0 ? "data" : MarkerName(marker);
  segment.detail = detail;
  summary->segments.push_back(segment);
}

// Walks the entropy-coded data after an SOS; returns the offset after it.
size_t WalkScanData(const uint8_t* data, size_t size, size_t pos, JpegSummary* summary) {
  long restarts = 0;
  const size_t end = SkipScanData(data, size, pos, &restarts);
  Add(summary, pos, 0, -1,
      Format("entropy-coded data, %ld bytes, %ld restart markers", static_cast<long>(end - pos), restarts));
  if (end >= size) summary->problem = "the file ends inside the entropy-coded data";
  return end;
}

// One step of the walk at pos; returns the next position or size to stop.
size_t WalkOne(const uint8_t* data, size_t size, size_t pos, JpegSummary* summary) {
  if (data[pos] != JPEG_MARKER_PREFIX) {
    size_t next = pos;
    while (next < size && data[next] != JPEG_MARKER_PREFIX) ++next;
    Add(summary, pos, 0, -1,
        Format("%ld stray bytes where a marker was expected", static_cast<long>(next - pos)));
    return next;
  }
  while (pos + 1 < size && data[pos + 1] == JPEG_MARKER_PREFIX) ++pos;  // fill bytes before a marker
  if (pos + 1 >= size) {
    summary->problem = "the file ends inside a marker";
    return size;
  }
  const int code = data[pos + 1];
  if (code == 0x00) {
    Add(summary, pos, 0, -1, "2 stray bytes (FF 00) where a marker was expected");
    return pos + 2;
  }
  if (IsStandalone(code)) {
    Add(summary, pos, code, -1, "");
    if (code != JPEG_MARKER_EOI) return pos + 2;
    summary->sawEndOfImage = true;
    if (pos + 2 < size)
      Add(summary, pos + 2, 0, -1, Format("%ld bytes after EOI", static_cast<long>(size - pos - 2)));
    return size;
  }
  if (pos + 4 > size) {
    summary->problem = "the file ends inside the " + MarkerName(code) + " segment";
    return size;
  }
  const long length = data[pos + 2] << 8 | data[pos + 3];
  if (length < 2) {
    Add(summary, pos, code, length, "length field too small");
    summary->problem = "the " + MarkerName(code) + " segment has a length below 2";
    return size;
  }
  if (pos + 2 + static_cast<size_t>(length) > size) {
    Add(summary, pos, code, length,
        Format("runs past the end of the file (%ld of %ld bytes present)", static_cast<long>(size - pos - 2),
               length));
    summary->problem = "the file ends inside the " + MarkerName(code) + " segment";
    return size;
  }
  const Payload payload{data + pos + 4, static_cast<size_t>(length) - 2};
  Add(summary, pos, code, length, DescribeSegment(code, payload));
  const size_t next = pos + 2 + static_cast<size_t>(length);
  return code == JPEG_MARKER_SOS ? WalkScanData(data, size, next, summary) : next;
}

}  // namespace

std::string FrameKind(int marker) {
  switch (marker) {
    case JPEG_MARKER_SOF0:
      return "baseline";
    case JPEG_MARKER_SOF1:
      return "extended sequential";
    case JPEG_MARKER_SOF2:
      return "progressive";
    case JPEG_MARKER_SOF3:
      return "lossless";
    default:
      return marker >= JPEG_MARKER_SOF9 ? "arithmetic-coded" : "hierarchical";
  }
}

std::string NotJpegReason(const uint8_t* data, size_t size) {
  if (size >= 2 && data[0] == JPEG_MARKER_PREFIX && data[1] == JPEG_MARKER_SOI) return "";
  if (size == 0) return "not a JPEG file: it is empty";
  if (size == 1) return Format("not a JPEG file: it holds one byte, 0x%02lX", data[0]);
  return Format("not a JPEG file: starts with 0x%02lX 0x%02lX", data[0], data[1]);
}

JpegSummary WalkJpeg(const uint8_t* data, size_t size) {
  JpegSummary summary;
  summary.problem = NotJpegReason(data, size);
  if (!summary.problem.empty()) return summary;
  Add(&summary, 0, JPEG_MARKER_SOI, -1, "");
  size_t pos = 2;
  while (pos < size) pos = WalkOne(data, size, pos, &summary);
  if (!summary.sawEndOfImage && summary.problem.empty())
    summary.problem = "the file ends without an EOI marker";
  return summary;
}

std::string FormatSegment(const SegmentInfo& segment) {
  char head[64];
  const std::string marker = segment.marker == 0 ? "" : Format("FF%02lX", segment.marker);
  const std::string length = segment.length < 0 ? "" : std::to_string(segment.length);
  std::snprintf(head, sizeof head, "%8zu  %-4s  %-5s %6s", segment.offset, marker.c_str(),
                segment.name.c_str(), length.c_str());
  std::string line = head;
  if (!segment.detail.empty()) line += "  " + segment.detail;
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string WithArticle(const std::string& kind) {
  const bool vowel = !kind.empty() && std::string("aeiou").find(kind[0]) != std::string::npos;
  return (vowel ? "an " : "a ") + kind;
}

JfifDensity FindJfifDensity(const uint8_t* data, size_t size) {
  JfifDensity density;
  // JFIF APP0 payload: "JFIF\0", version (2), units (1), X (2), Y (2), ...
  constexpr size_t kUnits = 7, kX = 8, kY = 10, kLeast = 12;
  size_t at = 2;  // after SOI
  if (size < 2 || data[0] != JPEG_MARKER_PREFIX || data[1] != JPEG_MARKER_SOI) return density;
  while (at + 4 <= size && data[at] == JPEG_MARKER_PREFIX) {
    const int code = data[at + 1];
    if (code == JPEG_MARKER_PREFIX) {  // a fill byte before the marker
      ++at;
      continue;
    }
    if (IsFrameMarker(code) || code == JPEG_MARKER_SOS || IsStandalone(code)) break;
    const size_t length = size_t{data[at + 2]} << 8 | data[at + 3];
    const Payload payload{data + at + 4, length >= 2 && at + 2 + length <= size ? length - 2 : 0};
    if (code == JPEG_MARKER_APP0 && payload.Has(0, kLeast) && payload.StartsWith(JPEG_JFIF_IDENTIFIER, JPEG_JFIF_IDENTIFIER_BYTES)) {
      density.found = true;
      density.units = payload.U8(kUnits);
      density.x = payload.U16(kX);
      density.y = payload.U16(kY);
      return density;
    }
    if (length < 2) break;
    at += 2 + length;
  }
  return density;
}

}  // namespace jpegtool
