// segment_copier.cpp - the input's marker segments carried over into the
// re-coded file (transcoder.h says which, jpeg_transcode.h why).
//
// The input has been decoded whole before this runs, so its layout is
// known to be sound; the walk still never reads past the data. A segment is
// the marker, its two length bytes and the body; a scan is its SOS segment
// and the entropy-coded data after it, which ends at the first marker that
// is not a stuffed byte or RSTn.
#include "codec/jpeg_markers.h"
#include "transcode/transcoder.h"

namespace {

struct Walker {
  const uint8_t* data;
  size_t size;
  size_t at;  // the next byte to look at
};

// The next marker segment: its code, where its marker starts and how many
// bytes it spans; 0 at EOI or the end of the data. Fill bytes and stray
// standalone markers are passed over; entropy-coded data after an SOS too.
int32_t NextSegment(Walker* w, size_t* start, size_t* bytes) {
  for (;;) {
    while (w->at < w->size && w->data[w->at] != kMarkerPrefix) w->at++;
    while (w->at < w->size && w->data[w->at] == kMarkerPrefix) w->at++;
    if (w->at >= w->size) return 0;
    const int32_t code = w->data[w->at];
    if (code == kEOI) return 0;
    if (code == 0 || JPEGIsRST(code) || code == kTEM || code == kSOI) {
      w->at++;
      continue;
    }
    if (w->at + 2 >= w->size) return 0;
    const size_t length = static_cast<size_t>(w->data[w->at + 1]) << 8 | w->data[w->at + 2];
    *start = w->at - 1;
    *bytes = 2 + length;
    if (length < 2 || *start + *bytes > w->size) return 0;
    w->at = *start + *bytes;
    return code;
  }
}

bool IsFrameHeader(int32_t code) {
  return code >= kSOF0 && code <= kSOF15 && code != kDHT && code != kJPG && code != kDAC;
}

// True when a DQT before the first scan has a table of 16-bit entries.
bool HasWideQuantizers(const uint8_t* data, size_t size) {
  Walker w = {data, size, 0};
  size_t start = 0, bytes = 0;
  for (int32_t code; (code = NextSegment(&w, &start, &bytes)) != 0 && code != kSOS;) {
    if (code != kDQT) continue;
    for (size_t at = start + 4; at < start + bytes; at += (data[at] >> 4 != 0 ? 128 : 64) + 1)
      if (data[at] >> 4 != 0) return true;
  }
  return false;
}

void Put(Stm* target, const uint8_t* bytes, size_t n) {
  StmFWrite(bytes, 1, static_cast<uint32_t>(n), target);
}

// Past the bytes the decoder read (after a sequential image's last scan,
// garbage or another file may follow), only segments that cannot change
// how the re-coded file decodes are kept: COM and APPn but the JFIF and
// colour-transform ones.
bool KeptAfterTheImage(int32_t code) {
  return code == kCOM || (JPEGIsAPP(code) && code != kAPP0 && code != kAPP14);
}

}  // namespace

void DCTTCopySegments(const uint8_t* data, size_t size, size_t readEnd, Stm* target, int32_t progressive) {
  const uint8_t soi[2] = {kMarkerPrefix, kSOI};
  Put(target, soi, 2);
  const int32_t frameCode = progressive ? kSOF2 : HasWideQuantizers(data, size) ? kSOF1 : kSOF0;
  Walker w = {data, size, 0};
  size_t start = 0, bytes = 0;
  bool scanSeen = false, frameSeen = false;
  for (int32_t code; (code = NextSegment(&w, &start, &bytes)) != 0;) {
    if (start >= readEnd) {
      if (KeptAfterTheImage(code)) Put(target, data + start, bytes);
    } else if (code == kSOS) {
      scanSeen = true;
    } else if (code == kDQT && scanSeen) {
      DCTStmErr0("A DQT segment between scans cannot be kept");
    } else if (IsFrameHeader(code)) {
      // Only the first: the decoder refuses a second one inside the image.
      if (frameSeen) continue;
      frameSeen = true;
      const uint8_t marker[2] = {kMarkerPrefix, static_cast<uint8_t>(frameCode)};
      Put(target, marker, 2);
      Put(target, data + start + 2, bytes - 2);
    } else if (code != kDHT && code != kDRI && (!scanSeen || JPEGIsAPP(code) || code == kCOM)) {
      Put(target, data + start, bytes);
    }
  }
}
