// transcoder.cpp - JPEGOptimizeCoding (include/jpeg_transcode.h): a JPEG
// file's coefficients coded anew with tables built for them.
//
// The input, held in memory, is read through a source stream of its own by
// the decoder, which puts every scan into its coefficient store and stops
// there (DCTDReadCoefficients). The store's blocks are copied into a
// coefficient image in zigzag order, with the input's sampling, component
// identifiers and (sequential) restart interval: restarts would cut the
// end-of-band runs of progressive scans short, so those have none. Then the
// segments are copied (segment_copier.cpp) and the encoder's scan writer
// codes the image (encode/scan_writer.cpp), sequential or progressive. The luminance (first)
// component, and a fourth one, take table slot 0; the others slot 1.
//
// Everything the call allocates hangs off one record, so that a failure,
// which arrives by the error jump (stream/error_path.h), frees it all.
#include <cstdlib>
#include <cstring>

#include "decode/decoder.h"
#include "encode/coefficient_image.h"
#include "encode/encoder.h"
#include "jpeg_transcode.h"
#include "parallel/strip_jobs.h"
#include "stream/error_path.h"
#include "stream/stm_procs.h"
#include "transcode/transcoder.h"

namespace {

constexpr uint16_t kChunkBytes = 4096;  // source refill size

struct Transcode {
  Stm source;
  uint8_t chunk[kChunkBytes + 1];  // and the guard byte
  const uint8_t* data;
  size_t size;
  size_t at;  // bytes of data handed to the decoder so far
  size_t chunkAt;  // where in data the chunk now in the buffer begins
  size_t readEnd;  // bytes of data the decoder took, once it has stopped
  DCTState* decoder;
  DCTState* encoder;
  DCTECoefImage image;
  char message[256];
};

int16_t FillFromMemory(Stm* s) {
  if (s->eof || s->error) return -1;
  auto* t = static_cast<Transcode*>(s->procData);
  size_t n = t->size - t->at;
  if (n > s->bufSize) n = s->bufSize;
  std::memcpy(s->base, t->data + t->at, n);
  t->chunkAt = t->at;
  t->at += n;
  return StmRefillWithGuard(s, n);
}

void Release(Transcode* t) {
  if (t->decoder != nullptr) {
    DCTfree(t->decoder);
    std::free(t->decoder);
  }
  std::free(t->encoder);
  for (DCTECoefPlane& p : t->image.plane) std::free(p.blocks);
  std::free(t);
}

void ReadInput(Transcode* t) {
  t->source.base = t->source.ptr = t->chunk;
  t->source.bufSize = kChunkBytes;
  t->source.procData = t;
  t->source.filBuf = &FillFromMemory;
  t->source.flsBuf = &StmRefuseFlush;
  t->decoder = DCTFirstInit();
  JPEGDecConfigure(t->decoder, &t->source, &t->source);
  t->decoder->allowOversizedMCU = 1;
  DCTDReadCoefficients(t->decoder);
  const size_t inChunk = static_cast<size_t>(t->source.ptr - t->source.base);
  t->readEnd = t->chunkAt + inChunk < t->size ? t->chunkAt + inChunk : t->size;
}

// Plane f of the image from the decoder's store, natural order to zigzag.
void TakePlane(Transcode* t, int32_t f) {
  const DCTState* d = t->decoder;
  const DCTComponent& comp = d->components[f];
  DCTECoefPlane* plane = &t->image.plane[f];
  plane->h = comp.hSamples;
  plane->v = comp.vSamples;
  plane->id = comp.componentId;
  plane->tableSlot = f == 0 || f == 3 ? 0 : 1;
  DCTESetupPlane(plane, d->Columns, d->Rows, d->maxHSamples, d->maxVSamples, comp.stripWidth / 8,
                 t->image.mcuRows * comp.vSamples);
  for (int32_t by = 0; by < plane->blocksHigh; by++) {
    const int16_t* row = DCTDCoefRow(d, f, by);
    if (row == nullptr) continue;
    for (int32_t bx = 0; bx < plane->blocksWide; bx++) {
      int16_t* out = DCTECoefBlock(plane, bx, by);
      const int16_t* in = row + static_cast<size_t>(bx) * kDCTEBlockCoefs;
      for (int32_t k = 0; k < kDCTEBlockCoefs; k++) out[k] = in[DCTunzigzag[k]];
    }
  }
}

void TakeImage(Transcode* t, int32_t progressive) {
  const DCTState* d = t->decoder;
  t->image.colors = d->frameColors;
  t->image.mcusPerRow = d->mcusPerRow;
  t->image.mcuRows = (d->Rows + 8 * d->maxVSamples - 1) / (8 * d->maxVSamples);
  t->image.restartInterval = progressive ? 0 : d->restartInterval;
  for (int32_t f = 0; f < d->frameColors; f++) TakePlane(t, f);
  DCTfree(t->decoder);  // the store goes: only the image is needed now
  std::free(t->decoder);
  t->decoder = nullptr;
}

void WriteOutput(Transcode* t, Stm* target, int32_t progressive) {
  DCTTCopySegments(t->data, t->size, t->readEnd, target, progressive);
  t->encoder = DCTFirstInit();
  t->encoder->targetStm = target;
  DCTEinit_sputv(t->encoder);
  DCTEWriteCoefImage(t->encoder, &t->image, progressive);
  DCTEclose_sput(t->encoder);
  if (target->error) DCTStmErr0("Target error prevents output");
}

}  // namespace

int32_t JPEGOptimizeCoding(const uint8_t* data, size_t size, Stm* target,
                           const JPEGTranscodeOptions* options) {
  if (data == nullptr || target == nullptr) {
    JPEGErrorMessage("No input or no target");
    return -1;
  }
  auto* t = static_cast<Transcode*>(std::calloc(1, sizeof(Transcode)));
  if (t == nullptr) {
    JPEGErrorMessage("Insufficient storage");
    return -1;
  }
  t->data = data;
  t->size = size;
  DCTSavedEnv saved;
  DCTSaveEnv(&saved, t->message);
  if (setjmp(gEnv) != 0) {
    JPEGErrorMessage(t->message);
    Release(t);
    DCTEndTry(&saved);
    return -1;
  }
  const int32_t progressive = options != nullptr && options->progressive != 0;
  ReadInput(t);
  TakeImage(t, progressive);
  WriteOutput(t, target, progressive);
  Release(t);
  DCTEndTry(&saved);
  return 0;
}
