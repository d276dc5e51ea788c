/* jpeg_export.h - the export marker of jpeg.so.
 *
 * The library is built with hidden visibility; only declarations marked
 * JPEG_API (plain functions with C linkage, the filter table, the host-facing
 * classes) appear in the dynamic symbol table. Everything else in the codec
 * core stays private to the library. */
#ifndef JPEG_EXPORT_H
#define JPEG_EXPORT_H

#if defined(__GNUC__)
#define JPEG_API __attribute__((visibility("default")))
#else
#define JPEG_API
#endif

#ifdef __cplusplus
#define JPEG_EXTERN_C_BEGIN extern "C" {
#define JPEG_EXTERN_C_END }
#else
#define JPEG_EXTERN_C_BEGIN
#define JPEG_EXTERN_C_END
#endif

#endif
