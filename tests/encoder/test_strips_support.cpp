// test_strips_support.cpp - see test_strips_support.h.
#include "encoder/test_strips_support.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <random>

#include "stream/error_path.h"

namespace strips_test {
namespace {

int CeilDiv(int a, int b) { return (a + b - 1) / b; }

// Real samples per line and the last block column holding any of them, as
// the encoder set-up works them out for each component.
void SetEdges(DCTState* s) {
  for (int i = 0; i < s->Colors; i++) {
    DCTComponent& c = s->components[i];
    const int h = c.hSamples, w = c.stripWidth, hmax = s->maxHSamples;
    int real = 0;
    if (h == hmax) {
      real = s->Columns;
    } else if (h == 2 && hmax == 4) {
      real = (s->Columns + 1) / 2;
    } else {
      real = CeilDiv(s->Columns, hmax) * h;
    }
    const int pad = w - real;
    c.edgeSamples = static_cast<uint8_t>(pad == 0 ? 0 : 8 * h - pad);
    c.lastBlockX = w - (pad & ~7) - 8;
  }
}

void AppendStrips(const DCTState* s, Planes* planes) {
  for (int c = 0; c < s->Colors; c++) {
    const DCTComponent& comp = s->components[c];
    const size_t bytes = static_cast<size_t>(8 * comp.vSamples) * comp.stripWidth;
    planes->plane[c].insert(planes->plane[c].end(), comp.strip, comp.strip + bytes);
  }
}

}  // namespace

DCTState* NewState(const Layout& layout) {
  DCTState* s = DCTFirstInit();
  s->Colors = layout.colors;
  s->outputColors = layout.colors;
  s->Columns = layout.columns;
  s->Rows = layout.rows;
  s->blend = layout.blend;
  s->colorTransform = layout.transform;
  for (int i = 0; i < layout.colors; i++) {
    s->components[i].hSamples = layout.h[i];
    s->components[i].vSamples = layout.v[i];
  }
  DCTInitCommon(s, 1);
  if (layout.forceHFast >= 0) s->hFastMode = layout.forceHFast;
  if (layout.forceVFast >= 0) s->vFastMode = layout.forceVFast;
  s->inputLineBytes = s->Columns * s->Colors;
  SetEdges(s);
  s->qTableCount = layout.qTables;
  DCTallocate(s, s->inputLineBytes, 1);
  if (s->colorTransform != 0) DCTEInitCT(s);
  return s;
}

void FreeState(DCTState* state) {
  DCTfree(state);
  std::free(state);
}

Planes FeedImage(DCTState* s, const std::vector<uint8_t>& pixels) {
  Planes planes;
  planes.plane.resize(s->Colors);
  for (int c = 0; c < s->Colors; c++) planes.width.push_back(s->components[c].stripWidth);
  s->stripSubLine = s->stripBlockLine = s->linesDone = 0;
  for (int y = 0; y < s->Rows; y++) {
    std::memcpy(s->lineBuffer, &pixels[static_cast<size_t>(y) * s->inputLineBytes],
                static_cast<size_t>(s->inputLineBytes));
    DCTEGetNCLine(s);
    if (++s->linesDone == s->Rows) DCTEget_ovflines(s);
    if (++s->stripSubLine < s->maxVSamples) continue;
    s->stripSubLine = 0;
    if (++s->stripBlockLine < 8) continue;
    AppendStrips(s, &planes);
    s->stripBlockLine = 0;
  }
  return planes;
}

std::string RaisedMessage(void (*fn)(DCTState*), DCTState* state) {
  static char message[kDCTMessageSize];
  message[0] = '\0';
  DCTSavedEnv saved;
  DCTSaveEnv(&saved, message);
  if (setjmp(gEnv) != 0) {
    DCTEndTry(&saved);
    return message;
  }
  fn(state);
  DCTEndTry(&saved);
  return std::string();
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng() >> 24);
  return bytes;
}

}  // namespace strips_test
