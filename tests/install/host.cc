// host.cc - a C++ host of the library: the README's C++ example (SaveJPEG
// and OpenJPEG, cut out of README.md as it stands into readme_example.inc by
// the scripts that build this file; not a .cpp, which the test build would
// take for a test program of its own) saves a small image to a file (argv[1])
// and opens it again. Exits non-zero when anything fails or differs.
#include "readme_example.inc"

int main(int argc, char** argv) {
  const int width = 37, height = 21;  // plain ints, as callers hold them
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < pixels.size(); i++) pixels[i] = static_cast<uint8_t>(i * 7);
  const char* path = argc > 1 ? argv[1] : "example.jpg";
  JPEGReadInfo info{};
  std::vector<uint8_t> back;
  if (!SaveJPEG(path, width, height, pixels.data()) || !OpenJPEG(path, &info, &back)) return 1;
  return info.width == width && info.height == height && back.size() == pixels.size() ? 0 : 1;
}
