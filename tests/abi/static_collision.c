/* static_collision.c - a C host that defines, for its own use, every
 * C-linkage name the codec uses between its own files (the list is what
 * `nm -g --defined-only` showed in the static archive before its internal
 * names were made local). Linked with readme_example.c (which encodes an
 * image) statically against libjpegcodec.a by tests/install/check_install.sh:
 * the link must succeed, and the codec must leave the host's variables alone. */
#include <unistd.h>

#define HOST_NAMES(X)                                                                     \
  X(DCTDQScale) X(DCTEACPeak) X(DCTEQScale) X(DCTKernelsAVX2) X(DCTKernelsSSE2)           \
  X(DCTunzigzag) X(atsC0) X(atsC1) X(atsC2) X(atsC3) X(atsC4) X(atsL0) X(atsL1) X(atsL2) \
  X(atsL3) X(atsL4) X(atsLen) X(atsptrs) X(dtsbits) X(gEnv) X(gErrorMsg) X(qkroma1)      \
  X(qkroma2) X(qluma1) X(tkroma1) X(tluma1)

#define DEFINE(name) int name[64] = {7};
HOST_NAMES(DEFINE)

/* Runs after main: a host variable the codec wrote into fails the program. */
__attribute__((destructor)) static void CheckHostNames(void) {
#define CHECK(name) \
  for (int i = 0; i < 64; i++)  \
    if (name[i] != (i == 0 ? 7 : 0)) _exit(3);
  HOST_NAMES(CHECK)
}
