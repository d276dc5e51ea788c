// host.cpp - a tiny C++ host built against the installed library: saves a
// small RGB image through the host write stream into memory and opens it
// again through the read stream. Exits non-zero when anything differs.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "jpeg_stream.h"

int main() {
  const int width = 48, height = 32;
  TMemoryStream* memory = new TMemoryStream;
  TJPEGWriteStream* out = MakeJPEGWriteFolioprintStream(memory);
  JPEGWriteOptions options{3, 72, 72, static_cast<int16_t>(width), static_cast<int16_t>(height), 3, 0};
  std::vector<char> line(width * 3);
  try {
    out->StartJPEG(options, 0);
    for (int y = 0; y < height; y++) {
      for (int x = 0; x < width * 3; x++) line[x] = static_cast<char>(x * 5 + y * 3);
      out->PutJPEGRaster(line.data(), static_cast<long>(line.size()));
    }
    out->StopJPEG();
  } catch (const HostFailure& f) {
    std::fprintf(stderr, "save failed (%d): %s\n", f.error, JPEGLastErrorMessage());
    return 1;
  }
  out->Free();
  TMemoryStream* source = new TMemoryStream(memory->Contents());
  memory->Free();
  TJPEGReadStream* in = MakeJPEGReadFolioprintStream(source);
  JPEGReadInfo info{};
  try {
    in->StartJPEG(&info, 0);
    for (int y = 0; y < info.height; y++) in->GetJPEGRaster(line.data());
    in->StopJPEG();
  } catch (const HostFailure& f) {
    std::fprintf(stderr, "open failed (%d): %s\n", f.error, JPEGLastErrorMessage());
    return 1;
  }
  in->Free();
  source->Free();
  std::printf("%dx%d colors=%d\n", info.width, info.height, info.colors);
  return info.width == width && info.height == height && info.colors == 3 ? 0 : 1;
}
