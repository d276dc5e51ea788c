// host_test_util.h - what the host-layer tests share: marker segments to
// splice into JPEG data, resource bytes and handles, the fuzz targets' host
// stream that fails on command, and whole images through the JPEG streams.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "fuzz_support.h"
#include "host/host_internal.h"
#include "jpeg_stream.h"
#include "support/test_support.h"
#include "thumb_stream.h"

using testing_support::Bytes;
using testing_support::Image;
using testing_support::SyntheticImage;

using testing_support::Be16;
using testing_support::Cat;
using testing_support::Segment;
using testing_support::Slice;
inline Bytes Str(const char* s, size_t n) { return Bytes(s, s + n); }
// A JFIF segment (version 1.02) with both densities the same.
inline Bytes JFIF(uint8_t units, uint16_t density) {
  return Segment(0xE0, Cat({Str("JFIF", 5), {1, 2, units}, Be16(density), Be16(density), {0, 0}}));
}
// One piece of resource data after its zero-terminated signature.
inline Bytes Piece(const Bytes& resources, uint8_t marker = 0xED) {
  return Segment(marker, Cat({Str("Imagerion 3.0", 14), resources}));
}

// Deterministic bytes standing for a host's resource data.
inline Bytes ResourceBytes(size_t size, uint32_t seed = 7) {
  Bytes b(size);
  for (auto& v : b) v = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);  // an LCG
  return b;
}
inline Bytes HandleBytes(LargeHandle h) { return h ? Bytes(*h, *h + GetHandleSize(h)) : Bytes{}; }
inline LargeHandle HandleWith(const Bytes& bytes) {
  LargeHandle h = NewLargeHandle(static_cast<int32_t>(bytes.size()));
  return std::copy(bytes.begin(), bytes.end(), *h), h;
}

// The code of the HostFailure body raises, or 0 when it raises nothing.
template <typename Body> int16_t FailureCode(Body&& body) {
  try { body(); } catch (const HostFailure& f) { return f.error; }
  return 0;
}

// A memory stream whose failingCall-th transfer or length query raises code.
using fuzz::FailingStream;

inline JPEGWriteOptions Options(const Image& img, int32_t quality, int32_t mode = 0, int16_t dpi = 300) {
  return {quality, dpi, dpi, static_cast<int16_t>(img.width), static_cast<int16_t>(img.height),
          static_cast<int16_t>(img.colors), mode};
}
inline void WriteLines(TJPEGWriteStream* stream, const Image& img, int lines) {
  for (int y = 0; y < lines; y++)
    stream->PutJPEGRaster(reinterpret_cast<char*>(const_cast<uint8_t*>(img.Row(y))), img.width * img.colors);
}
// Starts stream, writes every line of img and stops it.
inline void WriteImage(TJPEGWriteStream* stream, const Image& img, const JPEGWriteOptions& o, bool ascii85) {
  stream->StartJPEG(o, ascii85);
  WriteLines(stream, img, img.height);
  stream->StopJPEG();
}
// Starts stream, reads every line into an image and stops it.
inline Image ReadImage(TJPEGReadStream* in, JPEGReadInfo* info, unsigned char ascii85) {
  in->StartJPEG(info, ascii85);
  const size_t lineBytes = static_cast<size_t>(in->fLineBytes);
  Image back{static_cast<uint16_t>(info->width), info->height, info->colors, Bytes(lineBytes * info->height)};
  for (int y = 0; y < back.height; y++) in->GetJPEGRaster(reinterpret_cast<char*>(&back.pixels[lineBytes * y]));
  in->StopJPEG();
  return back;
}
