// embedded_photo.h - the demo photograph compiled into the program: a
// 600x400 RGB PPM of a cup of coffee (CC0; see README.md beside this file).
#ifndef JPEGTOOL_EMBEDDED_PHOTO_H
#define JPEGTOOL_EMBEDDED_PHOTO_H

#include <cstddef>
#include <cstdint>

namespace jpegtool {

const uint8_t* EmbeddedPhotoData();
size_t EmbeddedPhotoSize();

}  // namespace jpegtool

#endif
