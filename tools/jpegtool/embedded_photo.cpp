// embedded_photo.cpp - pulls the demo photograph into the program's
// read-only data with the assembler's .incbin. The build passes the file's
// path as JPEGTOOL_PHOTO_PATH and rebuilds this file when the photo changes.
#include "embedded_photo.h"

#ifndef JPEGTOOL_PHOTO_PATH
#error "JPEGTOOL_PHOTO_PATH must name the demo photograph"
#endif

__asm__(
    ".section .rodata\n"
    ".balign 16\n"
    ".local jpegtool_photo_begin\n"
    "jpegtool_photo_begin:\n"
    ".incbin \"" JPEGTOOL_PHOTO_PATH
    "\"\n"
    ".local jpegtool_photo_end\n"
    "jpegtool_photo_end:\n"
    ".byte 0\n"
    ".previous\n");

extern "C" __attribute__((visibility("hidden"))) const uint8_t jpegtool_photo_begin[];
extern "C" __attribute__((visibility("hidden"))) const uint8_t jpegtool_photo_end[];

namespace jpegtool {

const uint8_t* EmbeddedPhotoData() { return jpegtool_photo_begin; }
size_t EmbeddedPhotoSize() { return static_cast<size_t>(jpegtool_photo_end - jpegtool_photo_begin); }

}  // namespace jpegtool
