/* c_abi_check.c - a C program, compiled on its own with its own copy of the
 * Stm record (no library header), that checks jpeg.so's exported stream
 * functions give the documented results across the C boundary. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef struct MyStm MyStm;
struct MyStm {
  uint8_t eof, error;
  int16_t count;
  uint8_t *ptr, *base;
  void* procData;
  uint16_t bufSize, reserved;
  int16_t (*flsBuf)(int16_t c, MyStm* s);
  int16_t (*filBuf)(MyStm* s);
};

uint32_t StmFRead(void* dst, uint32_t size, uint32_t nitems, MyStm* s);
uint32_t StmFWrite(const void* src, uint32_t size, uint32_t nitems, MyStm* s);
int16_t os_fgetc(MyStm* s);
int16_t os_fputc(int16_t c, MyStm* s);
int16_t StmUnGetc(int16_t c, MyStm* s);
int32_t vs_init_out(MyStm* out, int32_t kind, int32_t width, int32_t height, int32_t colors);
void JPEGErrorMessage(const char* msg);
int32_t scd(void);
extern uint8_t gJPEGError;

static uint8_t sink[256], sinkBuffer[4];
static size_t sinkLength;

/* Write side: a 4-byte buffer flushed into `sink` (-1: only flushed). */
static int16_t Flush(int16_t c, MyStm* s) {
  memcpy(sink + sinkLength, s->base, (size_t)(s->ptr - s->base));
  sinkLength += (size_t)(s->ptr - s->base);
  s->ptr = s->base;
  s->count = (int16_t)(s->bufSize - (c != -1));
  return c == -1 ? -1 : (*s->ptr++ = (uint8_t)c);
}

/* Read side: the bytes are all in the buffer; a refill finds no more. */
static int16_t Fill(MyStm* s) {
  s->eof = 1;
  s->count = 0;
  return -1;
}

static int failures;
#define CHECK(ok) (void)((ok) || (printf("FAILED: %s\n", #ok), failures++))

int main(void) {
  MyStm out = {0, 0, 4, sinkBuffer, sinkBuffer, NULL, 4, 0, Flush, NULL};
  const char text[] = "ABCDEFGHI";
  CHECK(StmFWrite(text, 1, 9, &out) == 9);
  CHECK(os_fputc(0x141, &out) == 0x41); /* the low 8 bits */
  CHECK(vs_init_out(&out, 0, 640, 480, 3) == 0); /* kind 0 writes nothing */
  Flush(-1, &out);
  CHECK(sinkLength == 10 && memcmp(sink, "ABCDEFGHIA", 10) == 0);

  MyStm in = {0, 0, 10, sink, sink, NULL, 10, 0, NULL, Fill};
  uint8_t items[12];
  CHECK(StmFRead(items, 4, 3, &in) == 2); /* complete items only: 10 bytes are 2 of 4 */
  CHECK(memcmp(items, "ABCDEFGHIA", 10) == 0);
  CHECK(os_fgetc(&in) == -1 && in.eof);
  CHECK(StmUnGetc(-1, &in) == -1);

  gJPEGError = 0;
  JPEGErrorMessage("x");
  CHECK(gJPEGError == 1);
  CHECK(scd() == 0);
  if (failures == 0) printf("c_abi_check: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
