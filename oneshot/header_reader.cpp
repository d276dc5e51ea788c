// header_reader.cpp - JPEGMemReadHeader: the header of JPEG data in memory,
// read by walking its segments without decoding anything.
//
// The walk reads the frame header, the restart interval and the colour
// hints up to the first scan header, settles the colour the way the
// decoder's marker parser does (decode/marker_parser.cpp: a colour-transform
// APP14 of our own or of another encoder, a JFIF segment, component
// identifiers), and goes on over the entropy-coded data of every scan to
// note where each APPn and COM segment stands. Every read is bounds-checked;
// problems before the first scan header fail the call, problems after it
// only end the walk.
#include <cstring>

#include "codec/jpeg_markers.h"
#include "oneshot/oneshot_internal.h"

namespace {

// The colour-transform segment's transform byte: 0 none, 1 YCbCr (YCCK for
// four components), 2 YCCK; -1 while no segment has been seen.
constexpr int32_t kTransformNoneCode = 0, kTransformYCbCrCode = 1, kTransformYCCKCode = 2;
constexpr int32_t kUnknownTransform = -1;
constexpr size_t kFrameBytes = 6;          // P, Y, X, Nf before the components
constexpr size_t kFrameComponentBytes = 3; // C, H/V, Tq
constexpr uint8_t kFirstPrintable = 0x20, kLastPrintable = 0x7E;

enum ColourSource { kNoSegment, kOwnSegment, kPeerSegment };

struct Walk {
  const uint8_t* data;
  size_t size;
  JPEGMemHeader* header;
  JPEGMemSegment* segments;
  uint32_t capacity;
  ColourSource source;
  int32_t transform;
  bool jfif;
  bool frameSeen;
  bool scanSeen;
  uint8_t ids[4];
  const char* problem;  // why the walk stopped early, before the first scan
};

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void NoteSegment(Walk* w, size_t at, int32_t code, uint16_t length) {
  JPEGMemHeader* h = w->header;
  if (h->segmentCount < w->capacity) {
    JPEGMemSegment& s = w->segments[h->segmentCount];
    s.offset = at;
    s.marker = static_cast<uint16_t>(code);
    s.length = length;
  }
  h->segmentCount++;
}

bool IsPrintableIdentifier(const uint8_t* id) {
  for (int32_t i = 0; i < kColourSegmentIdentifierBytes; i++) {
    if (id[i] < kFirstPrintable || id[i] > kLastPrintable) return false;
  }
  return true;
}

// The colour-transform layout, ours by its identifier, another encoder's
// when its identifier is printable; only segments ahead of the first scan
// count, as in the decoder.
void ReadColourSegment(Walk* w, const uint8_t* body, size_t n) {
  if (w->scanSeen || n < static_cast<size_t>(kColourSegmentBodyBytes)) return;
  const int32_t transform = body[kColourSegmentTransformAt];
  if (std::memcmp(body, kColourSegmentIdentifier, kColourSegmentIdentifierBytes) == 0) {
    w->source = kOwnSegment;
    w->transform = transform;
  } else if (IsPrintableIdentifier(body)) {
    w->source = kPeerSegment;
    w->transform = transform == kTransformNoneCode ? kTransformNoneCode : kTransformYCbCrCode;
  }
}

void ReadJfif(Walk* w, const uint8_t* body, size_t n) {
  if (!w->scanSeen && n >= static_cast<size_t>(kJFIFBodyBytes) &&
      std::memcmp(body, kJFIFIdentifier, kJFIFIdentifierBytes) == 0) {
    w->jfif = true;
  }
}

void ReadFrame(Walk* w, int32_t code, const uint8_t* body, size_t n) {
  if (w->frameSeen) {
    w->problem = "a second frame header";
    return;
  }
  JPEGMemHeader* h = w->header;
  h->frameMarker = code;
  h->progressive = code == kSOF2 || code == kSOF2 + 4 || code == kSOF2 + 8 || code == kSOF2 + 12;
  if (n < kFrameBytes) {
    w->problem = "the frame header is too short";
    return;
  }
  h->bitsPerSample = body[0];
  h->height = U16(body + 1);
  h->width = U16(body + 3);
  h->components = body[5];
  if (n < kFrameBytes + kFrameComponentBytes * h->components) {
    w->problem = "the frame header is too short for its components";
    return;
  }
  for (int32_t i = 0; i < h->components && i < 4; i++) {
    const uint8_t* c = body + kFrameBytes + kFrameComponentBytes * static_cast<size_t>(i);
    w->ids[i] = c[0];
    h->samplingH[i] = static_cast<uint8_t>(c[1] >> 4);
    h->samplingV[i] = static_cast<uint8_t>(c[1] & 15);
  }
  w->frameSeen = true;
}

int32_t ThreeComponentColour(const Walk* w) {
  int32_t t = w->transform;
  if (w->source == kPeerSegment && w->jfif) t = kTransformYCbCrCode;
  if (w->source == kNoSegment && !w->jfif && w->ids[0] == 'R' && w->ids[1] == 'G' && w->ids[2] == 'B')
    t = kTransformNoneCode;
  if (t == kTransformNoneCode) return JPEG_MEM_COLOUR_RGB;
  if (t == kUnknownTransform || t == kTransformYCbCrCode) return JPEG_MEM_COLOUR_YCBCR;
  return JPEG_MEM_COLOUR_UNKNOWN;
}

int32_t FourComponentColour(const Walk* w) {
  const bool inverted = w->source == kPeerSegment;
  const int32_t t = w->transform;
  if (t == kUnknownTransform || t == kTransformNoneCode)
    return inverted ? JPEG_MEM_COLOUR_INVERTED_CMYK : JPEG_MEM_COLOUR_CMYK;
  if (t == kTransformYCbCrCode || t == kTransformYCCKCode)
    return inverted ? JPEG_MEM_COLOUR_INVERTED_YCCK : JPEG_MEM_COLOUR_YCCK;
  return JPEG_MEM_COLOUR_UNKNOWN;
}

// At the first scan header, as the decoder settles it.
void SettleColour(Walk* w) {
  JPEGMemHeader* h = w->header;
  switch (h->components) {
    case 1:
      h->colour = JPEG_MEM_COLOUR_GREY;
      break;
    case 2:
      h->colour = JPEG_MEM_COLOUR_TWO;
      break;
    case 3:
      h->colour = ThreeComponentColour(w);
      break;
    case 4:
      h->colour = FourComponentColour(w);
      break;
    default:
      h->colour = JPEG_MEM_COLOUR_UNKNOWN;
  }
}

void ReadScanHeader(Walk* w) {
  if (w->scanSeen) return;
  if (!w->frameSeen) {
    w->problem = "a scan header before the frame header";
    return;
  }
  SettleColour(w);
  w->scanSeen = true;
}

void ReadSegment(Walk* w, int32_t code, size_t at, uint16_t length) {
  const uint8_t* body = w->data + at + 4;
  const size_t n = length - 2u;
  if (JPEGIsAPP(code) || code == kCOM) NoteSegment(w, at, code, length);
  if (JPEGIsSOF(code)) ReadFrame(w, code, body, n);
  if (code == kAPP14) ReadColourSegment(w, body, n);
  if (code == kAPP0) ReadJfif(w, body, n);
  if (code == kDRI && !w->scanSeen && n >= 2) w->header->restartInterval = U16(body);
  if (code == kSOS) ReadScanHeader(w);
}

// From pos, the offset of the first marker that is neither a stuffed zero
// nor a restart marker (the end of entropy-coded data), or size.
size_t SkipScanData(const Walk* w, size_t pos) {
  const uint8_t* d = w->data;
  while (pos + 1 < w->size) {
    if (d[pos] != kMarkerPrefix || d[pos + 1] == kMarkerPrefix) {
      ++pos;
    } else if (d[pos + 1] == 0 || JPEGIsRST(d[pos + 1])) {
      pos += 2;
    } else {
      return pos;
    }
  }
  return w->size;
}

// One marker at pos (stray bytes before it are passed over, as the decoder
// does); answers where the walk goes on, or size to stop.
size_t Step(Walk* w, size_t pos) {
  const uint8_t* d = w->data;
  while (pos < w->size && d[pos] != kMarkerPrefix) ++pos;
  while (pos + 1 < w->size && d[pos + 1] == kMarkerPrefix) ++pos;  // fill bytes
  if (pos + 1 >= w->size) return w->size;
  const int32_t code = d[pos + 1];
  if (code == kEOI) {
    w->header->endOfImage = 1;
    return w->size;
  }
  if (code == kSOI || code == kTEM || JPEGIsRST(code)) return pos + 2;
  if (code == 0) {
    w->problem = "a stray 0xFF 0x00 where a marker belongs";
    return w->size;
  }
  const size_t length = pos + 4 <= w->size ? U16(d + pos + 2) : 0;
  if (length < 2 || pos + 2 + length > w->size) {
    w->problem = length < 2 && pos + 4 <= w->size ? "a segment length below 2" : "the data ends inside a segment";
    return w->size;
  }
  ReadSegment(w, code, pos, static_cast<uint16_t>(length));
  if (w->problem != nullptr && !w->scanSeen) return w->size;
  const size_t next = pos + 2 + length;
  return code == kSOS ? SkipScanData(w, next) : next;
}

int32_t NotJpeg(const uint8_t* data, size_t size, JPEGMemResult* result) {
  if (size == 0) return Report(result, JPEG_MEM_BAD_DATA, "not a JPEG file: it is empty");
  if (size == 1) return Report(result, JPEG_MEM_BAD_DATA, "not a JPEG file: it holds one byte, 0x%02X", data[0]);
  return Report(result, JPEG_MEM_BAD_DATA, "not a JPEG file: starts with 0x%02X 0x%02X", data[0], data[1]);
}

}  // namespace

int32_t JPEGMemReadHeader(const uint8_t* data, size_t size, JPEGMemHeader* header, JPEGMemSegment* segments,
                          uint32_t capacity, JPEGMemResult* result) {
  if (header == nullptr || (data == nullptr && size > 0) || (segments == nullptr && capacity > 0))
    return Report(result, JPEG_MEM_BAD_ARGUMENT, "a null pointer where data is needed");
  std::memset(header, 0, sizeof *header);
  if (size < 2 || data[0] != kMarkerPrefix || data[1] != kSOI) return NotJpeg(data, size, result);
  Walk w{data, size, header, segments, capacity, kNoSegment, kUnknownTransform, false, false, false, {}, nullptr};
  for (size_t pos = 2; pos < size;) pos = Step(&w, pos);
  if (w.scanSeen) return ReportOk(result);
  if (w.problem == nullptr) w.problem = w.frameSeen ? "no scan header" : "no frame header";
  return Report(result, JPEG_MEM_BAD_DATA, "%s", w.problem);
}
