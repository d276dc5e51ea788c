// jpeg_stream.h - the host's JPEG streams: TJPEGWriteStream saves an image
// as a JPEG file (or as ASCII85 text for page-description output) and
// TJPEGReadStream opens one, with the resolution and the host's
// image-resource data carried in application segments.
//
// Writing: make the stream with a factory, optionally set fUserMarkers (the
// resource data; the stream never frees it), StartJPEG, PutJPEGRaster once
// per line (width x colors interleaved samples), StopJPEG, Free.
//
// Reading: make the stream with a factory, StartJPEG (fills JPEGReadInfo and
// sets fResolution, 16.16 dots per inch, and fResources, owned by the
// stream), GetJPEGRaster once per line, StopJPEG, Free.
//
// Worker threads (jpeg_filters.h): after StartJPEG, before the first line,
// JPEGSetCodingThreads(stream->fJPEGStm, n) has the stream's filter code
// restart intervals on n threads; the bytes and lines stay the same.
//
// Failures surface as HostFailure (host_framework.h) from the methods:
// a host stream's own code, kHostIOError (-36), kHostEndOfFile (-39),
// kHostParamError (-50) or kHostCodecError (-25830; JPEGLastErrorMessage()
// in stm.h says why). Host failures are caught where the codec calls the
// host and raised again only after the codec has returned.
//
// Any number of streams may work at once, on one thread or on several; each
// stream is used by one thread at a time. A read stream receives the
// application segments of its own file only.
#ifndef JPEG_JPEG_STREAM_H
#define JPEG_JPEG_STREAM_H

#include <cstdint>

#include "host_framework.h"
#include "jpeg_filters.h"
#include "stm.h"

struct JPEGWriteOptions {
  int32_t quality;      // 0..6; 0 the largest quantizers (smallest files), 6 the finest
  int16_t xResolution;  // dots per inch, written to the JFIF segment
  int16_t yResolution;
  int16_t width;        // pixels, read unsigned: 1..65535
  int16_t height;       // lines, 1..32767
  int16_t colors;       // components per pixel, 1..4
  int32_t markerMode;   // 1: no JFIF segment; 2: no colour transform, no subsampling (and
                        // for RGB no JFIF segment); kJPEGPortableMarkerMode: CMYK as other
                        // programs store it; other: JFIF and colour transform
};

// The marker mode of the portable layout: four components stored as other
// programs store CMYK (JPEG_MARKER_MODE_PORTABLE in jpeg_filters.h); one to
// three components as mode 0.
constexpr int32_t kJPEGPortableMarkerMode = 3;

struct JPEGReadInfo {
  int16_t width;      // pixels, to be read unsigned (up to 65535)
  int16_t height;     // lines, to be read unsigned (up to 65535)
  int16_t colors;     // components per pixel delivered: 1, 2, 3 or 4
  int32_t colorCode;  // 0 three components, 1 four, 2 one, 3 two
};

// Resource data travels in APP13 segments of at most this many data bytes,
// each led by this signature (and its terminating zero).
constexpr int32_t kJPEGResourceChunk = 32000;
constexpr char kJPEGResourceSignature[] = "Imagerion 3.0";

class JPEG_API TJPEGWriteStream : public TWriteStream {
 public:
  TJPEGWriteStream();
  ~TJPEGWriteStream() override;
  void IJPEGWriteStream(TStream* target, long bufferSize);

  // Opens the encoder for one image (ascii85 non-zero: wrap the output as
  // ASCII85 text). Raises kHostParamError for a quality outside 0..6 or a
  // size below 1, kHostCodecError when the encoder refuses the image.
  void StartJPEG(const JPEGWriteOptions& options, unsigned char ascii85);
  // Passes one raster line, whole, to the encoder (length: width x colors
  // bytes, any width; lines wider than 32767 bytes travel on in pieces).
  void PutJPEGRaster(char* line, long length);
  // Finishes the image and raises any failure met while writing it.
  void StopJPEG();
  // The APP13 segments carrying fUserMarkers (a new handle for the caller).
  LargeHandle SpoolUserMarkers();
  // QFactor of a quality (0..6); raises kHostParamError for any other.
  static double QFactorFor(int32_t quality);
  // The encode-filter parameters StartJPEG opens its filter with, for
  // callers that run the filter themselves (Rows may then go up to 65535);
  // raises kHostParamError for a quality outside 0..6.
  static JPEGEncodeParams EncodeParamsFor(const JPEGWriteOptions& options);

  int16_t fError;            // host failure code caught while writing; 0 none
  LargeHandle fUserMarkers;  // the caller's resource data, or null
  Stm fStm;                  // bottom stream into this object's PutBytes
  Stm* fJPEGStm;             // the encode filter, or null
  Stm* fA85Stm;              // the ASCII85 encode filter, or null
  uint8_t fBuffer[8192];     // buffer of fStm

 private:
  void CloseFilters();
};

// Saves to the named file, which a successful StopJPEG replaces; a failure
// anywhere before, or freeing the stream without one, leaves the file as it
// was (TFileStream, mode 1).
JPEG_API TJPEGWriteStream* MakeJPEGWriteFileStream(TFile* file);
JPEG_API TJPEGWriteStream* MakeJPEGWriteFolioprintStream(TStream* target);

class JPEG_API TJPEGReadStream : public TReadStream {
 public:
  TJPEGReadStream();
  ~TJPEGReadStream() override;
  void IJPEGReadStream(TStream* source);

  // Parses the header (ascii85 non-zero: the data is ASCII85 text) and
  // reports the image; resolution and resources are gathered meanwhile.
  void StartJPEG(JPEGReadInfo* info, unsigned char ascii85);
  // Copies the next decoded line (at most fLineBytes bytes) to line, whole
  // at any width (the decoder's pieces of a wide line gathered).
  void GetJPEGRaster(char* line);
  // Closes the decoder and raises any failure met while reading.
  void StopJPEG();
  // Takes resolution and resource data from one application segment.
  void ParseUserMarker(char* data, unsigned short marker, unsigned short length);
  // Records a failure met while taking a segment (raised by StartJPEG/StopJPEG).
  void NoteMarkerFailure(int16_t error);

  int16_t fError;          // host failure code, or -39 when the source ran out; 0 none
  int32_t fResolution;     // dots per inch, 16.16 fixed point; 0 none found
  LargeHandle fResources;  // resource data from APP13 segments, or null; owned
  int32_t fLineBytes;      // bytes per line delivered: colors x width
  Stm fStm;                // bottom stream over the source
  Stm* fJPEGStm;           // the decode filter, or null
  Stm* fA85Stm;            // the ASCII85 decode filter, or null
  uint8_t fBuffer[8193];   // buffer of fStm and room for the 0xFF guard byte

 private:
  void CloseFilters();
  void RaiseReadFailure();
  int16_t fMarkerError = 0;
};

JPEG_API TJPEGReadStream* MakeJPEGReadFileStream(TFile* file);
JPEG_API TJPEGReadStream* MakeJPEGReadFolioprintStream(TStream* source);

// No longer used, always null: each read stream now receives the segments of
// its own decoder. Kept so that hosts built against it still load.
JPEG_API extern TJPEGReadStream* gJPEGReadStream;

#endif
