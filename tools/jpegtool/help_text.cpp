// help_text.cpp - the texts printed by --help.
#include <cstdio>

#include "commands.h"

namespace jpegtool {
namespace {

struct HelpEntry {
  const char* command;
  const char* text;
};

const HelpEntry kHelp[] = {
    {"encode",
     "usage: jpegtool encode [options] IN OUT\n"
     "Encodes a PNM image (P2/P5 grey, P3/P6 RGB, P7 PAM with DEPTH 1 to 4;\n"
     "any MAXVAL up to 65535, scaled to 8 bits) as a baseline JPEG file.\n"
     "IN or OUT '-' is standard input or output.\n"
     "  --quality N       1 (coarsest, smallest) to 100 (finest), the scale other\n"
     "                    encoders use: QFactor = 1.45 x S/100, S = 5000/N below 50,\n"
     "                    200 - 2N from 50 up; files come out near theirs in size\n"
     "                    and PSNR. Chroma 2x2 unless --sample says otherwise\n"
     "  --level N         the host's quality index instead: 0 (coarsest) to 6 (finest);\n"
     "                    the default is --level 3. Levels 0, 1 and 2 subsample\n"
     "                    chroma 2x2, 3 to 6 keep full chroma. Excludes --quality\n"
     "  --sample HxV      luminance sampling against chroma: 1x1 (4:4:4), 2x1 (4:2:2),\n"
     "                    1x2 (4:4:0) or 2x2 (4:2:0), chroma averaged; needs the\n"
     "                    colour transform (not --marker-mode 2 nor --portable)\n"
     "  --grayscale       code grey or RGB input as one grey component\n"
     "  --ascii85         write the ASCII85-wrapped form (printable text ending in ~>)\n"
     "  --marker-mode N   0: JFIF segment and colour transform (default);\n"
     "                    1: no JFIF segment; 2: no colour transform, no subsampling\n"
     "  --portable        CMYK as other programs store and read it (inverted ink)\n"
     "  --dpi X[,Y]       resolution in dots per inch, 1 to 32767; default 72\n"
     "                    (written in the JFIF segment: refused with --marker-mode 1)\n"
     "  --resources FILE  embed FILE's bytes as image-resource segments\n"
     "  --threads N       code on N worker threads (0 to 64; default 0: none);\n"
     "                    the file is the same byte for byte\n"
     "  --optimize        Huffman tables built for the image (smaller file, same pixels)\n"
     "  --progressive     progressive scans, with tables built for each\n"
     "  --quiet           no progress line\n"
     "At most 65535 pixels wide and 65535 lines high.\n"},
    {"optimize",
     "usage: jpegtool optimize [--progressive] IN.jpg OUT.jpg\n"
     "Codes a JPEG file's data anew with Huffman tables built for it, without\n"
     "decoding to pixels: the coefficients, and so the pixels, stay the same;\n"
     "every application, comment and quantization segment is kept.\n"
     "  --progressive     write progressive scans (default: one sequential scan)\n"},
    {"decode",
     "usage: jpegtool decode [options] IN OUT\n"
     "Decodes a baseline, extended-sequential or progressive Huffman JPEG file\n"
     "(up to 65535 x 65535) into PGM (grey), PPM (RGB) or PAM (2 or 4\n"
     "components, CMYK for 4) and prints WIDTHxHEIGHT colors=N dpi=X[,Y] resources=BYTES\n"
     "(on stderr when an output is standard output). '-' is standard input or output.\n"
     "  --ascii85         the input is ASCII85-wrapped\n"
     "  --resources FILE  save the image-resource bytes found in the file (the image\n"
     "                    and FILE are both written, or neither)\n"
     "  --threads N       decode on N worker threads (0 to 64; default 0: none) when\n"
     "                    every MCU row starts a restart interval, as in our files\n"
     "  --partial         on a damaged or truncated file, write the lines decoded\n"
     "                    and mid-grey for the rest, say what went wrong and how\n"
     "                    many lines were good on stderr, and exit 2\n"
     "  --scale 1/N       the image reduced by N = 1, 2, 4 or 8 (each side rounded up),\n"
     "                    made inside the inverse DCT; not with --resources\n"
     "  --quiet           no progress line, no statistics line\n"
     "Progressive files are decoded whole into memory (2 bytes per sample) before\n"
     "the first line comes out; other files stream line by line.\n"},
    {"recompress",
     "usage: jpegtool recompress [options] IN.jpg OUT.jpg\n"
     "Decodes a JPEG file and encodes it again, keeping every application (APPn)\n"
     "and comment segment the encoder does not write itself: EXIF, XMP, ICC\n"
     "profile chunks (in order), image resources, comments. The JFIF segment and\n"
     "a colour-transform APP14 segment are written anew; the input's density is\n"
     "kept unless --dpi is given. Takes encode's options, and:\n"
     "  --strip           drop the kept segments\n"},
    {"thumb",
     "usage: jpegtool thumb IN OUT\n"
     "Decodes a JPEG file held in memory through the thumbnail interface and\n"
     "writes it as PNM, like decode.\n"
     "  --scale N         the image reduced by N = 1, 2, 4 or 8, as decode --scale 1/N\n"
     "  --quiet           no statistics line\n"},
    {"a85encode",
     "usage: jpegtool a85encode IN OUT\n"
     "Writes IN's bytes as ASCII85 text (64-column lines, ending in ~>).\n"},
    {"a85decode",
     "usage: jpegtool a85decode IN OUT\n"
     "Decodes ASCII85 text back into bytes; malformed text is an error.\n"},
    {"info",
     "usage: jpegtool info IN\n"
     "Lists the segments of a JPEG file, one line each: offset, marker, name,\n"
     "length and what the segment says. The scan is not decoded.\n"},
    {"demo",
     "usage: jpegtool demo [--runs N] [OUTDIR]\n"
     "Encodes the built-in photograph at every --level 0 to 6 and at --quality\n"
     "30, 50, 75, 90 and 95, plain and ASCII85, decodes it back and prints\n"
     "quality, QFactor, bytes, bits per pixel, PSNR and timings. Writes the\n"
     "files, table.txt and chart.svg (PSNR against bits per pixel) into OUTDIR\n"
     "(default ./demo-out). With the system's cjpeg and djpeg installed, they are\n"
     "shown at matching file sizes and at the same --quality numbers.\n"
     "  --runs N          time each encode and decode N times, keep the best (default 3)\n"
     "  --quiet           write the files only, print nothing\n"},
};

}  // namespace

const char* ToolUsage() {
  return "usage: jpegtool COMMAND [options] ARGS...\n"
         "A baseline JPEG codec on the command line.\n"
         "\n"
         "commands:\n"
         "  encode IN.pnm OUT.jpg    encode a PNM/PAM image\n"
         "  decode IN.jpg OUT.pnm    decode to PNM/PAM\n"
         "  recompress IN.jpg OUT.jpg  re-encode, keeping EXIF, ICC, XMP and comments\n"
         "  optimize IN.jpg OUT.jpg  re-code losslessly with tables built for the file\n"
         "  thumb IN.jpg OUT.pnm     decode through the thumbnail interface\n"
         "  a85encode IN OUT         wrap bytes as ASCII85 text\n"
         "  a85decode IN OUT         unwrap ASCII85 text\n"
         "  info IN.jpg              list the segments of a JPEG file\n"
         "  demo [OUTDIR]            quality/size/PSNR table on a built-in photograph\n"
         "\n"
         "\n"
         "'-' is standard input or output. Outputs replace a file only when the command\n"
         "succeeds; links, devices and FIFOs are written through.\n"
         "'jpegtool COMMAND --help' describes a command; --version prints the version.\n";
}

const char* CommandHelp(const std::string& command) {
  for (const HelpEntry& entry : kHelp) {
    if (command == entry.command) return entry.text;
  }
  return nullptr;
}

void PrintCommandHelp(const std::string& command) { std::fputs(CommandHelp(command), stdout); }

}  // namespace jpegtool
