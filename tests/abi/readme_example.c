/* readme_example.c - the README's example of encoding through BNStreams,
 * compiled as C against jpeg.so and run as a test, so the example stays true.
 * Writes a 64 x 48 RGB gradient as a JPEG file (argv[1], default out.jpg). */
#include <stdio.h>
#include <string.h>

#include "bn_streams.h"

static unsigned char fileBuffer[4096];

/* The bottom stream's flush procedure: empties the buffer into the FILE. */
static int16_t FileFlush(int16_t c, Stm* s) {
  size_t n = (size_t)(s->ptr - s->base);
  if (fwrite(s->base, 1, n, (FILE*)s->procData) != n) s->error = 1;
  s->ptr = s->base;
  s->count = (int16_t)s->bufSize;
  if (s->error) return -1;
  if (c == -1) {
    s->eof = 1;
    s->count = 0;
    return -1;
  }
  *s->ptr++ = (uint8_t)c;
  s->count--;
  return c;
}

int main(int argc, char** argv) {
  FILE* f = fopen(argc > 1 ? argv[1] : "out.jpg", "wb");
  if (!f) return 1;
  Stm file;
  memset(&file, 0, sizeof file);
  file.base = file.ptr = fileBuffer;
  file.bufSize = sizeof fileBuffer;
  file.count = (int16_t)sizeof fileBuffer;
  file.procData = f;
  file.flsBuf = FileFlush;

  JPEGEncodeParams params;
  memset(&params, 0, sizeof params);
  params.QFactor = 0.65;  /* smaller is finer */
  params.Columns = 64;
  params.Rows = 48;
  params.Colors = 3;      /* interleaved RGB */
  params.densityUnits = 1; /* JFIF: dots per inch */
  params.xDensity = params.yDensity = 72;

  Stm* jpeg = ((BNOpenJPEGEncodeProc)BNStreams[kBNOpenJPEGEncode])(&file, &params);
  if (!jpeg) {
    fprintf(stderr, "open failed: %s\n", JPEGLastErrorMessage());
    return 1;
  }
  for (int y = 0; y < 48; y++) {
    uint8_t line[64 * 3];
    for (int x = 0; x < 64; x++) {
      line[3 * x] = (uint8_t)(x * 4);
      line[3 * x + 1] = (uint8_t)(y * 5);
      line[3 * x + 2] = 128;
    }
    StmFWrite(line, 1, sizeof line, jpeg);
  }
  int failed = jpeg->error;
  ((BNCloseProc)BNStreams[kBNCloseJPEGEncode])(jpeg);  /* writes the rest and EOI */
  FileFlush(-1, &file);                                  /* empties the bottom buffer */
  fclose(f);
  if (failed || gJPEGError) {
    fprintf(stderr, "encode failed: %s\n", JPEGLastErrorMessage());
    return 1;
  }
  return 0;
}
