// libjpeg_peer.cpp - the system libjpeg (libjpeg-turbo) as a reference peer:
// it writes the files our decoder must read and reads the files our encoder
// writes. Its errors and warnings come back as a message, never as an exit.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "support/test_support.h"

namespace testing_support {
namespace {

struct PeerError {
  jpeg_error_mgr mgr;
  jmp_buf env;
  bool warned = false;
  char message[JMSG_LENGTH_MAX] = "";
};

void PeerErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<PeerError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  longjmp(err->env, 1);
}

void PeerEmitMessage(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<PeerError*>(cinfo->err);
  if (level < 0 && !err->warned) {  // a warning: corrupt data, premature end...
    err->warned = true;
    (*cinfo->err->format_message)(cinfo, err->message);
  }
}

void InstallPeerError(j_common_ptr cinfo, PeerError* err) {
  cinfo->err = jpeg_std_error(&err->mgr);
  err->mgr.error_exit = PeerErrorExit;
  err->mgr.emit_message = PeerEmitMessage;
}

}  // namespace

Bytes LibjpegEncode(const Image& img, const LibjpegOptions& options) {
  jpeg_compress_struct cinfo;
  PeerError err;
  InstallPeerError(reinterpret_cast<j_common_ptr>(&cinfo), &err);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (setjmp(err.env)) {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    std::fprintf(stderr, "libjpeg encode failed: %s\n", err.message);
    return {};
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(img.width);
  cinfo.image_height = static_cast<JDIMENSION>(img.height);
  cinfo.input_components = img.colors;
  cinfo.in_color_space = img.colors == 1 ? JCS_GRAYSCALE : img.colors == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, options.quality, TRUE);
  if (img.colors == 3) {
    cinfo.comp_info[0].h_samp_factor = options.hSamp0;
    cinfo.comp_info[0].v_samp_factor = options.vSamp0;
  }
  cinfo.restart_interval = static_cast<unsigned>(options.restartInterval);
  cinfo.restart_in_rows = options.restartInRows;
  cinfo.optimize_coding = options.optimize ? TRUE : FALSE;
  cinfo.arith_code = options.arithmetic ? TRUE : FALSE;
  if (options.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(img.Row(static_cast<int>(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

bool LibjpegDecode(const Bytes& jpeg, Image* out, bool fancyUpsampling, std::string* message,
                   bool rawComponents, int scaleDenominator) {
  jpeg_decompress_struct cinfo;
  PeerError err;
  InstallPeerError(reinterpret_cast<j_common_ptr>(&cinfo), &err);
  if (setjmp(err.env)) {
    jpeg_destroy_decompress(&cinfo);
    if (message) *message = err.message;
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.do_fancy_upsampling = fancyUpsampling ? TRUE : FALSE;
  cinfo.scale_denom = static_cast<unsigned>(scaleDenominator);
  if (rawComponents || cinfo.num_components == 2) {
    cinfo.jpeg_color_space = JCS_UNKNOWN;  // hand back the components as coded
    cinfo.out_color_space = JCS_UNKNOWN;
  }
  jpeg_start_decompress(&cinfo);
  out->width = static_cast<int>(cinfo.output_width);
  out->height = static_cast<int>(cinfo.output_height);
  out->colors = cinfo.output_components;
  out->pixels.assign(static_cast<size_t>(out->width) * out->height * out->colors, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = &out->pixels[static_cast<size_t>(cinfo.output_scanline) * out->width * out->colors];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  if (message) *message = err.message;
  return !err.warned;
}

}  // namespace testing_support
