// marker_parser.cpp - the decoder's marker parser and its per-line driver.
//
// DCTDFilBuf is the decoder's one step, called by the decode filter once per
// raster line: it parses the header through SOS when markers are due (the
// segment readers below fill the codec state and set up the scan), has the
// scan's entropy decoder decode a strip when the previous one is used up, and hands
// the strip out line by line through the output stage. Segment layouts are
// those of ITU-T T.81 Annex B; the colour-transform APP14 segment is laid out
// as the encoder writes it, and is recognised by that layout under other
// encoders' identifiers too. Every other APPn and COM segment (and other
// encoders' APP14) goes to the filter's
// user-segment hook, when its client gave one. After the last
// line the data may end where EOI should stand.
#include <cstdlib>
#include <cstring>

#include "codec/jpeg_markers.h"
#include "decode/decoder.h"
#include "decode/entropy_decoder.h"
#include "parallel/strip_jobs.h"

namespace {

constexpr int32_t kEndOfData = -1;  // nextByte once the source has no more bytes
constexpr int32_t kMaxTables = 4;
constexpr int32_t kACTableBase = 16;  // DHT Tc/Th byte of AC table 0
constexpr int32_t kTableBytes8 = 65, kTableBytes16 = 129;  // Pq/Tq byte + 64 quantizers
constexpr int32_t kHuffCountBytes = 17;                    // Tc/Th byte + 16 counts
constexpr uint8_t kFirstPrintable = 0x20, kLastPrintable = 0x7E;
constexpr int32_t kSamplePrecision = 8;        // the only precision decoded
constexpr int32_t kFrameHeaderBytes = 8;       // length, P, Y, X, Nf
constexpr int32_t kFrameComponentBytes = 3;    // C, H/V, Tq
constexpr int32_t kScanHeaderBytes = 6;        // length, Ns, Ss, Se, Ah/Al
constexpr int32_t kScanComponentBytes = 2;     // Cs, Td/Ta
constexpr int32_t kRestartSegmentBytes = 4;    // length, Ri

// Where the colour coding of the frame was learnt during one header parse.
// Other encoders write the colour-transform APP14 segment with the same
// layout as ours under their own identifier; their CMYK is stored with ink
// inverted (255 = no ink), and for three components a JFIF segment or the
// component identifiers decide when no segment does. Our encoder's
// portable layout is such a file (their identifier, transform 0); under our
// own identifier CMYK is never inverted.
// kEarlierHeader: the colours were settled by an earlier header parse of
// this stream (a later scan's), and no segment of this one changes them.
enum TransformSource { kNoSegment, kOwnSegment, kPeerSegment, kEarlierHeader };
struct ColourHints {
  TransformSource source;
  bool jfif;  // a JFIF APP0 segment was seen
};

using QuantStore = DCTDQuantStore;  // kept in the state: later scans use earlier tables

[[noreturn]] void TooShort(int32_t code) { DCTStmErr1("%ld marker segment length is too short", code); }

void RequireSOI(const DCTState* state) {
  if (state->phase == kDecPhaseFresh) DCTStmErr0("SOS, DHT, DQT, or EOI marker before SOI marker");
}

// What a segment reader left of its declared length: dropped, or an error
// when it read more than was declared.
void SettleLeftover(DCTState* state, int32_t code, int32_t leftover) {
  if (leftover < 0) TooShort(code);
  DCTDSkipSegmentBytes(state, leftover);
}

bool IsJFIF(int32_t code, const uint8_t* body, int32_t n) {
  return code == kAPP0 && n >= kJFIFBodyBytes &&
         std::memcmp(body, kJFIFIdentifier, kJFIFIdentifierBytes) == 0;
}

// A body of n bytes for the hook; `prefix` bytes of it were read already.
void PassToHook(DCTState* state, int32_t code, int32_t n, const uint8_t* prefix,
                int32_t prefixBytes, ColourHints* hints) {
  auto* body = static_cast<uint8_t*>(std::malloc(n > 0 ? n : 1));
  if (body == nullptr) {
    DCTDSkipSegmentBytes(state, n - prefixBytes);
    return;
  }
  if (prefixBytes > 0) std::memcpy(body, prefix, prefixBytes);
  if (!DCTDReadSegmentBytes(state, body + prefixBytes, n - prefixBytes)) {
    std::free(body);
    DCTStmErr0("Source EOF during marker");
  }
  if (IsJFIF(code, body, n)) hints->jfif = true;
  if (state->userMarkerHook != nullptr)
    state->userMarkerHook(state->userMarkerHookData, reinterpret_cast<char*>(body),
                          static_cast<uint16_t>(code), static_cast<uint16_t>(n));
  std::free(body);
}

int32_t ReadSegmentLength(DCTState* state, int32_t code) {
  const int32_t length = DCTDReadWord(state);
  if (length < 2) TooShort(code);
  return length;
}

void ReadUserSegment(DCTState* state, int32_t code, ColourHints* hints) {
  PassToHook(state, code, ReadSegmentLength(state, code) - 2, nullptr, 0, hints);
}

// The colour-transform layout: a five-character identifier, the version and
// two flag words, the transform byte. Ours is recognised by its identifier;
// any other whose identifier is printable text is another encoder's.
bool IsPrintableIdentifier(const uint8_t* id) {
  for (int32_t i = 0; i < kColourSegmentIdentifierBytes; i++) {
    if (id[i] < kFirstPrintable || id[i] > kLastPrintable) return false;
  }
  return true;
}

uint16_t BigEndian16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void StoreTransformFields(DCTState* state, const uint8_t* body) {
  state->app14Version = BigEndian16(body + kColourSegmentVersionAt);
  state->app14Flags0 = BigEndian16(body + kColourSegmentFlags0At);
  state->app14Flags1 = BigEndian16(body + kColourSegmentFlags1At);
}

// Our own segment sets the transform as read and is not passed on. Another
// encoder's is honoured the way the common decoders read it (0 none, any
// other value YCbCr for three components and YCCK for four, which the
// geometry resolves from 1) and still goes to the hook like any segment.
// True from the image's first scan on (its strip memory exists).
bool FrameUnderWay(const DCTState* state) { return state->stripMemory != nullptr; }

void ReadAPP14(DCTState* state, ColourHints* hints) {
  const int32_t n = ReadSegmentLength(state, kAPP14) - 2;
  // Between the scans of an image its colours are settled: the strip memory
  // (the colour tables among it) was laid out for them at the first scan.
  if (n < kColourSegmentBodyBytes || FrameUnderWay(state)) {
    PassToHook(state, kAPP14, n, nullptr, 0, hints);
    return;
  }
  uint8_t body[kColourSegmentBodyBytes];
  for (uint8_t& b : body) b = static_cast<uint8_t>(DCTDReadByte(state));
  if (std::memcmp(body, kColourSegmentIdentifier, kColourSegmentIdentifierBytes) == 0) {
    StoreTransformFields(state, body);
    state->colorTransform = body[kColourSegmentTransformAt];
    hints->source = kOwnSegment;
    DCTDSkipSegmentBytes(state, n - kColourSegmentBodyBytes);
    return;
  }
  if (IsPrintableIdentifier(body)) {
    StoreTransformFields(state, body);
    state->colorTransform =
        body[kColourSegmentTransformAt] == kTransformNone ? kTransformNone : kTransformYCbCr;
    hints->source = kPeerSegment;
  }
  PassToHook(state, kAPP14, n, body, kColourSegmentBodyBytes, hints);
}

// Settles at the scan header what the segments implied for the colours,
// the way the common decoders read other encoders' files: a JFIF segment
// means YCbCr for three components even against another encoder's APP14;
// without any APP14 the component identifiers 'R', 'G', 'B' mean RGB coded
// as it is; another encoder's CMYK holds inverted ink. Files with our own
// segment are left as they are.
void SettleColourHints(DCTState* state, const ColourHints* hints) {
  if (hints->source == kEarlierHeader || FrameUnderWay(state)) return;
  const DCTComponent* c = state->components;
  if (state->frameColors == 3) {
    if (hints->source == kPeerSegment && hints->jfif) state->colorTransform = kTransformYCbCr;
    if (hints->source == kNoSegment && !hints->jfif && c[0].componentId == 'R' &&
        c[1].componentId == 'G' && c[2].componentId == 'B') {
      state->colorTransform = kTransformNone;
    }
  }
  state->invertInks = hints->source == kPeerSegment && state->frameColors == 4 ? 1 : 0;
}

void ResetRestart(DCTState* state, int32_t interval) {
  state->restartInterval = interval;
  state->restartCountdown = interval + 1;
  state->restartMarkerNumber = 0;
}

// Widens the quantizers into the strip memory and scales them for the
// inverse DCT.
void LoadQuantTables(DCTState* state, const QuantStore* store) {
  for (int32_t k = 0; k < state->qTableCount; k++) {
    int32_t* table = state->qTable[k];
    for (int32_t i = 0; i < 64; i++) table[i] = store->table[k][i];
    DCTDScaleQT(state, table, k);
  }
}

int32_t ReadFrameHeader(DCTState* state) {
  const int32_t length = DCTDReadWord(state);
  if (DCTDReadByte(state) != kSamplePrecision) DCTStmErr0("Frame spec precision not 8");
  state->Rows = DCTDReadWord(state);
  state->Columns = DCTDReadWord(state);
  if (state->Columns == 0) DCTStmErr0("0 width image");
  if (state->Rows == 0) DCTStmErr0("0 length image (DNL markers not supported)");
  const int32_t count = DCTDReadByte(state);
  state->frameColors = static_cast<int16_t>(count);
  if (count < 1 || count > 4) DCTStmErr1("Frame no. colors==%ld not [1..4]", count);
  for (int32_t i = 0; i < count; i++) {
    DCTComponent* c = &state->components[i];
    c->componentId = static_cast<uint8_t>(DCTDReadByte(state));
    const int32_t sampling = DCTDReadByte(state);
    c->hSamples = sampling >> 4;
    c->vSamples = sampling & 15;
    c->frameQTableSel = static_cast<uint8_t>(DCTDReadByte(state));
  }
  return length - kFrameHeaderBytes - kFrameComponentBytes * count;
}

int32_t ReadDQT(DCTState* state, QuantStore* store) {
  int32_t n = DCTDReadWord(state) - 2;
  state->dqtBodyLength = static_cast<int16_t>(n);
  while (n > 0) {
    const int32_t pqtq = DCTDReadByte(state);
    const int32_t number = pqtq & 15;
    const bool wide = (pqtq >> 4) != 0;
    if (number >= kMaxTables) DCTStmErr0("DQT segment QTable no. >= 4");
    if (number + 1 > state->qTableCount) state->qTableCount = number + 1;
    for (int32_t i = 0; i < 64; i++) {
      const int32_t q = wide ? DCTDReadWord(state) : DCTDReadByte(state);
      if (q == 0) DCTStmErr0("DQT seg. ill. quantizer 0");
      store->table[number][i] = static_cast<uint16_t>(q);
    }
    store->defined |= 1u << number;
    n -= wide ? kTableBytes16 : kTableBytes8;
  }
  return n;
}

int32_t ReadDHT(DCTState* state) {
  int32_t n = DCTDReadWord(state) - 2;
  state->dhtBodyLength = static_cast<int16_t>(n);
  while (n > 0) {
    const int32_t b = DCTDReadByte(state);
    if (b < kMaxTables) {
      DCTDmake_huffdec(state, &state->huffDecDC[b], 0);
    } else if (b >= kACTableBase && b < kACTableBase + kMaxTables) {
      DCTDmake_huffdec(state, &state->huffDecAC[b - kACTableBase], 1);
    } else {
      DCTStmErr0("Bad DHT segment table no.");
    }
    n -= kHuffCountBytes + state->huffCodeCount;
  }
  return n;
}

int32_t ReadDRI(DCTState* state) {
  const int32_t length = DCTDReadWord(state);
  ResetRestart(state, DCTDReadWord(state));
  return length - kRestartSegmentBytes;
}

// Scan header (T.81 B.2.3) into state->scan. Scan components must name frame
// components in frame order; each one's tables go into the record of the
// frame component it names (which keeps that component's sampling). When
// the scan codes every frame component, record j is scan component j.
int32_t ReadScanHeader(DCTState* state, uint32_t definedTables) {
  DCTDScanInfo* scan = &state->scan;
  const int32_t length = DCTDReadWord(state);
  const int32_t count = DCTDReadByte(state);
  scan->count = count;
  if (count == 0) DCTStmErr0("No. scan components=0");
  if (count > state->frameColors) DCTStmErr0("No. scan components > no. frame comp.");
  const int32_t leftover = length - kScanHeaderBytes - kScanComponentBytes * count;
  if (leftover < 0) return leftover;
  int32_t frameIndex = 0;
  for (int32_t j = 0; j < count; j++) {
    const int32_t id = DCTDReadByte(state);
    const int32_t tables = DCTDReadByte(state);
    const int32_t dcTable = tables >> 4, acTable = tables & 15;
    if (dcTable >= kMaxTables || acTable >= kMaxTables) DCTStmErr0("Scan Huffman table no. >= 4");
    while (frameIndex < state->frameColors && state->components[frameIndex].componentId != id) {
      frameIndex++;
    }
    if (frameIndex >= state->frameColors) {
      DCTStmErr0("No frame comp. ID equal to a scan component ID");
    }
    DCTComponent* c = &state->components[frameIndex];
    c->scanComponentId = static_cast<uint8_t>(id);
    c->dcTableSel = static_cast<uint8_t>(dcTable);
    c->acTableSel = static_cast<uint8_t>(acTable);
    c->dcHuffPtr = &state->huffDecDC[dcTable];
    c->acHuffPtr = &state->huffDecAC[acTable];
    if (state->progressive == 0) DCTDCheckSequentialACTable(&state->huffDecAC[acTable]);
    const int32_t q = c->frameQTableSel;
    if (q >= state->qTableCount) DCTStmErr0("SOF specified a QTable >= no. QTables");
    if ((definedTables & (1u << q)) == 0) DCTStmErr1("QTable %ld used but not defined", q);
    c->qTableSel = static_cast<uint8_t>(q);
    scan->frameIndex[j] = frameIndex++;
  }
  scan->ss = DCTDReadByte(state);
  const int32_t seA = DCTDReadWord(state);
  scan->se = seA >> 8;
  scan->ah = (seA >> 4) & 15;
  scan->al = seA & 15;
  return leftover;
}

// The set-up of a scan after its header. The first scan of an image sets
// the geometry, strip memory and tables. When it codes every frame
// component the strips are decoded straight from the data (kDecPhaseStrip);
// otherwise every scan goes into the coefficient store first (kDecPhaseScans).
// Last, each scan chooses its entropy decoder (entropy_decoder.h).
void StartScan(DCTState* state, const QuantStore* store) {
  if (state->Rows > 0 && state->linesEmitted >= state->Rows) {
    // The image is complete; a further scan would be a second image or a
    // later scan of this one, neither of which this decoder serves.
    DCTStmErr0("Streams with more than one scan are not supported");
  }
  if (state->frameColors == 0 || state->dqtBodyLength == 0 || state->dhtBodyLength == 0) {
    DCTStmErr0("JPEG SOFn, DQT, or DHT marker missing before SOS");
  }
  const int32_t leftover = ReadScanHeader(state, store->defined);
  if (leftover < 0) TooShort(kSOS);
  if (state->coefStore != nullptr) {  // a later scan of a multi-scan image
    DCTDSkipSegmentBytes(state, leftover);
    DCTDBeginCoefScan(state);
    DCTDStartEntropyDecoder(state);
    state->phase = kDecPhaseScans;
    return;
  }
  // The colour count comes from the frame: a one-scan image codes it all.
  const bool wholeFrame = state->scan.count == state->frameColors && state->progressive == 0 &&
                          state->keepCoefficients == 0;
  state->Colors = state->outputColors = state->frameColors;
  DCTDScaleGeometry(state);
  DCTInitCommon(state, 0);
  DCTDSkipSegmentBytes(state, leftover);
  // The strip memory only once scan data is at hand: a header alone never
  // makes the decoder allocate it.
  if (state->nextByte == kEndOfData) DCTDTruncateError(state, kEndOfData);
  DCTallocate(state, state->outputLineBytes, 0);
  LoadQuantTables(state, store);
  if (state->colorTransform != kTransformNone) DCTDInitCT(state);
  state->linesEmitted = 0;
  DCTreset_dc(state);
  state->phase = kDecPhaseStrip;
  if (!wholeFrame) {
    DCTDBeginCoefImage(state);
    DCTDBeginCoefScan(state);
    state->phase = kDecPhaseScans;
  }
  DCTDStartEntropyDecoder(state);
}

// Decodes the scans of a multi-scan image into the coefficient store, the
// marker segments between them included, until every component is coded
// (a sequential image) or EOI (a progressive one, whose later scans only
// refine); then the strips are made from the store.
void DecodeAllScans(DCTState* state) {
  for (;;) {
    DCTDdecodeCoefScan(state);
    if (state->progressive == 0 && DCTDCoefImageComplete(state)) break;
    DCTDReadHeaders(state);
    if (state->phase != kDecPhaseEnd) continue;
    if (state->progressive == 0 || !DCTDCoefImageComplete(state)) DCTDFailUncoded(state);
    state->eoiRead = 1;
    break;
  }
  state->phase = kDecPhaseStrip;
}

// One raster line of the decoded strip into the line buffer.
void EmitLine(DCTState* state) {
  if (!DCTDParallelLine(state)) DCTPutNCLine(state, state->stripBlockLine, state->stripSubLine);
  if (++state->stripSubLine == state->maxVSamples) {
    state->stripSubLine = 0;
    if (++state->stripBlockLine == DCTBlockSide(state)) state->phase = kDecPhaseStrip;
  }
  if (++state->linesEmitted == state->Rows) state->phase = kDecPhaseMarkers;
}

// After the last line: a complete image whose data simply ends where EOI
// should stand is accepted (as the common decoders accept it), but data that
// ended inside the image's last code is missing data.
bool EndsWithoutEOI(DCTState* state) {
  if (!DCTDEveryLineEmitted(state)) return false;
  if (state->bitCount < 0 && state->nextByte == kEndOfData) {
    state->blockNumber--;  // the last block, whose code was cut
    DCTDTruncateError(state, kEndOfData);
  }
  if (!DCTDEndOfDataAhead(state)) return false;
  state->phase = kDecPhaseEnd;
  return true;
}

}  // namespace

bool DCTDImageEnded(const DCTState* state) { return state->phase == kDecPhaseEnd; }

bool DCTDEveryLineEmitted(const DCTState* state) {
  return state->Rows > 0 && state->linesEmitted >= state->Rows;
}

void DCTDReadHeaders(DCTState* state) {
  QuantStore& store = state->quantStore;
  ColourHints hints = {state->colorTransform == kTransformUnknown ? kNoSegment : kEarlierHeader, false};
  for (;;) {
    const int32_t code = DCTDNextMarker(state);
    switch (code) {
      case kSOI:
        state->phase = kDecPhaseMarkers;
        ResetRestart(state, 0);
        break;
      case kSOF2:
        state->progressive = 1;
        [[fallthrough]];
      case kSOF1:
        state->allowOversizedMCU = 1;
        [[fallthrough]];
      case kSOF0:
        if (state->frameColors != 0) DCTStmErr0("Second SOF marker not allowed");
        SettleLeftover(state, code, ReadFrameHeader(state));
        break;
      case kDHT:
        RequireSOI(state);
        SettleLeftover(state, code, ReadDHT(state));
        break;
      case kDQT:
        RequireSOI(state);
        SettleLeftover(state, code, ReadDQT(state, &store));
        break;
      case kDRI:
        SettleLeftover(state, code, ReadDRI(state));
        break;
      case kSOS:
        RequireSOI(state);
        SettleColourHints(state, &hints);
        StartScan(state, &store);
        return;
      case kEOI:
        RequireSOI(state);
        state->phase = kDecPhaseEnd;
        return;
      case kAPP14:
        ReadAPP14(state, &hints);
        break;
      default:
        if ((JPEGIsAPP(code) && code != kAPP14) || code == kCOM) {
          ReadUserSegment(state, code, &hints);
          break;
        }
        DCTStmErr1("Non-baseline or invalid marker code = %ld", code);
    }
  }
}

int32_t DCTDFilBuf(DCTState* state) {
  if (state->phase == kDecPhaseFresh) {
    DCTDinit_sgetv(state);
    DCTDInitHuffTables(state);
    DCTDReadHeaders(state);
  } else if (state->phase == kDecPhaseMarkers) {
    DCTfree(state);
    if (state->eoiRead != 0) {
      state->phase = kDecPhaseEnd;  // a progressive image's EOI came before its lines
    } else {
      if (!EndsWithoutEOI(state)) DCTDReadHeaders(state);
    }
  }
  if (state->phase == kDecPhaseEnd) return 1;
  if (state->phase == kDecPhaseScans) DecodeAllScans(state);
  if (state->phase == kDecPhaseStrip) {
    if (state->coefStore != nullptr) {
      DCTDCoefsToStrip(state);
    } else if (!DCTDParallelStrip(state)) {
      DCTDdecodeStrip(state);
    }
    state->stripBlockLine = 0;
    state->stripSubLine = 0;
    state->phase = kDecPhaseLines;
  }
  EmitLine(state);
  return 0;
}

void DCTDReadCoefficients(DCTState* state) {
  state->keepCoefficients = 1;
  DCTDinit_sgetv(state);
  DCTDInitHuffTables(state);
  DCTDReadHeaders(state);
  if (state->phase != kDecPhaseScans) DCTStmErr0("No image before EOI");
  DecodeAllScans(state);
}
