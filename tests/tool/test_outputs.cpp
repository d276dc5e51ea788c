// test_outputs.cpp - where outputs go: every command against a device
// (/dev/null, /dev/full), a FIFO, a symbolic link and a read-only file; "-"
// for standard input and output (decode's two outputs: both or neither, see
// the full device); and memory that does not grow with the image.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "jpeg_stream.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

const Image kSmall = Crop(LoadTestImage("coffee.ppm"), 40, 24);
const std::string kJpeg = Text(LibjpegEncode(kSmall));

// kJpeg with one resource segment (APP13: signature, its zero, the bytes).
const Bytes kSignature(kJPEGResourceSignature, kJPEGResourceSignature + sizeof kJPEGResourceSignature);
const std::string kJpegWithResources =
    Text(Insert(LibjpegEncode(kSmall), 2, Segment(0xED, Cat({kSignature, {'r', 'e', 's', '!'}}))));

struct Command {
  const char* name;
  const char* args;  // IN for the input file, OUT for the output under test
  std::string input;
};

const Command kCommands[] = {
    {"Encode", "encode IN OUT", "P6\n40 24\n255\n" + Text(kSmall.pixels)},
    {"Decode", "decode --quiet IN OUT", kJpeg},
    {"DecodeResources", "decode --quiet --resources OUT IN DIR/image.ppm", kJpegWithResources},
    {"Thumb", "thumb --quiet IN OUT", kJpeg},
    {"A85Encode", "a85encode IN OUT", "some bytes to wrap"},
    {"A85Decode", "a85decode IN OUT", "87cURD]i,\"Ebo80~>"},
    {"Info", "info IN >OUT", kJpeg},  // its listing goes to standard output, which the shell opens
};

ToolResult RunWith(const Command& command, const TempDir& dir, const std::string& out) {
  WriteText(dir.File("in"), command.input);
  const std::string args =
      Replace(Replace(Replace(command.args, "IN", dir.File("in")), "OUT", out), "DIR", dir.path);
  return RunShell("JPEGTOOL " + args);
}

// What the command writes to a plain new file in dir.
std::string ExpectedOutput(const Command& command, const TempDir& dir) {
  const ToolResult result = RunWith(command, dir, dir.File("expected"));
  EXPECT_EQ(result.status, 0) << result.err;
  return ReadText(dir.File("expected"));
}

void PrintTo(const Command& command, std::ostream* out) { *out << command.name; }

// Every command against devices, FIFOs and links; regular files and "-" for
// the commands that open their output themselves (not info).
class Outputs : public ::testing::TestWithParam<Command> {
 protected:
  bool Is(const char* name) const { return std::string(GetParam().name) == name; }
};

TEST_P(Outputs, NullDeviceTakesEverythingAndStaysADevice) {
  struct stat before, after;
  // Another program on the machine may have replaced it; that is no test of ours.
  if (stat("/dev/null", &before) != 0 || !S_ISCHR(before.st_mode)) GTEST_SKIP() << "/dev/null is no device here";
  TempDir dir;
  const ToolResult result = RunWith(GetParam(), dir, "/dev/null");
  EXPECT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(stat("/dev/null", &after), 0);
  EXPECT_TRUE(S_ISCHR(after.st_mode) && after.st_ino == before.st_ino && after.st_rdev == before.st_rdev);
}

TEST_P(Outputs, FullDeviceIsAFailureWithItsReason) {
  TempDir dir;
  WriteText(dir.File("image.ppm"), "precious");
  const ToolResult result = RunWith(GetParam(), dir, "/dev/full");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("No space left on device"), npos) << result.err;
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
  // decode --resources: the image is not replaced when the resources fail.
  EXPECT_EQ(ReadText(dir.File("image.ppm")), "precious");
}

// A FIFO and a symbolic link (to a file longer than any output: truncated
// first) are written through and stay what they are.
TEST_P(Outputs, FifoAndSymlinkAreWrittenThroughAndKept) {
  TempDir dir;
  const std::string fifo = dir.File("fifo"), link = dir.File("link");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  WriteText(dir.File("target"), std::string(100000, 'x'));
  ASSERT_EQ(symlink(dir.File("target").c_str(), link.c_str()), 0);
  std::string received;
  std::thread reader([&] { received = ReadText(fifo); });
  const ToolResult throughFifo = RunWith(GetParam(), dir, fifo);
  // A run that ended before opening the FIFO would leave the reader waiting
  // for a writer for ever: a writer that writes nothing lets it go.
  const int release = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  if (release >= 0) close(release);
  reader.join();
  const ToolResult throughLink = RunWith(GetParam(), dir, link);
  EXPECT_EQ(throughFifo.status, 0) << throughFifo.err;
  EXPECT_EQ(throughLink.status, 0) << throughLink.err;
  EXPECT_EQ(received, ExpectedOutput(GetParam(), dir));
  EXPECT_EQ(ReadText(dir.File("target")), received);
  struct stat info;
  ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
}

// Also as the superuser: a file without any write bit is never replaced.
TEST_P(Outputs, ReadOnlyFileIsNeverReplaced) {
  if (Is("Info")) GTEST_SKIP();
  TempDir dir;
  WriteText(dir.File("locked"), "precious");
  ASSERT_EQ(chmod(dir.File("locked").c_str(), 0444), 0);
  const ToolResult result = RunWith(GetParam(), dir, dir.File("locked"));
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("cannot write " + dir.File("locked") + ": Permission denied"), npos) << result.err;
  EXPECT_EQ(ReadText(dir.File("locked")), "precious");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 2) << "a file left behind";
}

TEST_P(Outputs, ReplacedFileKeepsItsPermissions) {
  if (Is("Info")) GTEST_SKIP();
  TempDir dir;
  WriteText(dir.File("out"), "old");
  ASSERT_EQ(chmod(dir.File("out").c_str(), 0640), 0);
  EXPECT_EQ(RunWith(GetParam(), dir, dir.File("out")).status, 0);
  EXPECT_EQ(ReadText(dir.File("out")), ExpectedOutput(GetParam(), dir));
  struct stat info;
  ASSERT_EQ(stat(dir.File("out").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// "-" is standard input and standard output, the same bytes as on named
// files; decode's statistics line then goes to stderr.
TEST_P(Outputs, DashReadsStdinAndWritesStdout) {
  if (Is("Info") || Is("DecodeResources")) GTEST_SKIP();
  TempDir dir;
  WriteText(dir.File("in"), GetParam().input);
  const ToolResult piped =
      RunShell("JPEGTOOL " + Replace(Replace(GetParam().args, "IN", "-"), "OUT", "-") + " <" + dir.File("in"));
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_TRUE(piped.out == ExpectedOutput(GetParam(), dir));
  if (Is("Decode")) {
    EXPECT_EQ(RunShell("JPEGTOOL decode - - <" + dir.File("in")).err, "40x24 colors=3 dpi=0 resources=0\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, Outputs, ::testing::ValuesIn(kCommands),
                         [](const ::testing::TestParamInfo<Command>& info) { return std::string(info.param.name); });

// Peak memory of the children run so far, in KiB.
long ChildrenPeakKiB() {
  struct rusage usage;
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_maxrss;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr long kPeakBudgetKiB = 160 * 1024;  // the sanitizer's own shadow memory and quarantine
#else
constexpr long kPeakBudgetKiB = 24 * 1024;
#endif

// A 96 MB image passes through decode and thumb in a few megabytes: lines are streamed.
TEST(Memory, EncodeAndDecodeStreamLines) {
  TempDir dir;
  {  // written line by line: this process stays small, as its children's peak counts it at the fork
    std::ofstream out(dir.File("big.ppm"), std::ios::binary);
    out << "P6\n8000 4000\n255\n";
    std::string line(8000 * 3, '\0');
    for (int y = 0; y < 4000; ++y) {
      for (int x = 0; x < 8000 * 3; ++x) line[x] = static_cast<char>((x / 3 + y) ^ (x % 3 * 85));
      out << line;
    }
  }
  Ok({"encode", "--quiet", dir.File("big.ppm"), dir.File("big.jpg")});
  Ok({"decode", "--quiet", dir.File("big.jpg"), dir.File("back.ppm")});
  Ok({"thumb", "--quiet", dir.File("big.jpg"), dir.File("thumb.ppm")});
  EXPECT_EQ(fs::file_size(dir.File("back.ppm")), fs::file_size(dir.File("big.ppm")));
  EXPECT_EQ(RunShell("cmp " + dir.File("thumb.ppm") + " " + dir.File("back.ppm")).status, 0);
  EXPECT_LT(ChildrenPeakKiB(), kPeakBudgetKiB);
}

// A 3 KB file whose frame announces 8000x30000 lines but holds 32: decode
// and thumb fail where the data ends without allocating the image ahead.
TEST(Memory, ShortFileWithAHugeFrameAllocatesNothingAhead) {
  std::string jpeg = Text(LibjpegEncode(Image{8000, 32, 1, Bytes(8000 * 32, 128)}));
  const size_t sof = jpeg.find("\xFF\xC0");
  jpeg[sof + 5] = static_cast<char>(30000 >> 8), jpeg[sof + 6] = static_cast<char>(30000 & 0xFF);
  TempDir dir;
  WriteText(dir.File("short.jpg"), jpeg);
  for (const char* command : {"decode", "thumb"}) {
    const ToolResult result = RunTool({command, dir.File("short.jpg"), dir.File("out.pgm")});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(std::string(command) + " failed: "), npos) << result.err;
    EXPECT_FALSE(fs::exists(dir.File("out.pgm")));
  }
  EXPECT_LT(ChildrenPeakKiB(), kPeakBudgetKiB);
}

}  // namespace
}  // namespace tool_test
