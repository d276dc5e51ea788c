// test_stress.cpp - the library used from many threads at once: eight
// threads run a shuffled mix of jobs (encode and decode filters through the
// filter table, the host's JPEG write and read streams over memory streams
// with resource data, the thumbnail interface, under ASCII85 both ways,
// several filters interleaved on one thread) on good and damaged inputs. Every
// outcome (output bytes, resolution, resources, failure code and the
// thread's own last codec message) must equal what the same job gives when
// run alone on the main thread. Built with -DJPEG_TSAN=ON it is also the
// ThreadSanitizer check of the library (scripts/test.sh).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bn_streams.h"
#include "host/host_test_util.h"
#include "jpeg_filters.h"
#include "support/decode_paths.h"
#include "stream/error_path.h"
#include "support/our_codec.h"

namespace {

using testing_support::DecodePath;
using testing_support::FindMarker;
using testing_support::MemSink;
using testing_support::MemSource;

constexpr int kThreads = 8;
// Each thread runs every job this many times, shuffled; JPEG_STRESS_ROUNDS
// asks for a longer soak.
int Rounds() { return std::max(1, std::atoi(std::getenv("JPEG_STRESS_ROUNDS") ? std::getenv("JPEG_STRESS_ROUNDS") : "3")); }

// What one job produced; equal outcomes mean byte-identical work. Decode
// jobs run through the shared decode driver (its lines, verdict, message,
// and the read stream's resolution and resources), encode jobs through the
// shared encoder.
struct Outcome {
  bool ok = false;          // the job's calls all succeeded
  Bytes output;             // compressed bytes or decoded lines
  int16_t hostError = 0;    // the HostFailure code the write stream raised
  std::string message;      // the thread's last codec message after a failure
  int32_t resolution = 0;   // read stream: fResolution
  Bytes resources;          // read stream: fResources
  std::string left;         // the thread's last message after the job
  auto Key() const { return std::tie(ok, output, hostError, resolution, resources, message, left); }
};

void Append(Bytes* out, const uint8_t* p, size_t n) { out->insert(out->end(), p, p + n); }

// Bytes of one decoded line for the size and colour code a decode open reported.
size_t LineBytes(const int16_t info[3]) { return static_cast<size_t>(info[0]) * testing_support::ColorsOfCode(info[2]); }

// --- the inputs, made once on the main thread and only read afterwards ---------------

struct Inputs {
  Image rgb = SyntheticImage(96, 64, 3, 11);
  Image grey = SyntheticImage(72, 40, 1, 12);
  Image cmyk = SyntheticImage(40, 24, 4, 13);
  Image noWidth = [] { Image i = SyntheticImage(72, 40, 1, 12); i.width = 0; return i; }();
  Bytes resources = ResourceBytes(40000, 5);  // two resource segments
  Bytes jpegRGB;         // our encode of rgb, 4:2:0
  Bytes jpegWithRes;     // the write stream's file of rgb with resources, 300 dpi
  Bytes textJPEG;        // jpegRGB as ASCII85 text
  Bytes corruptScan;     // jpegRGB with its scan data damaged after a few rows
  Bytes corruptHeader;   // jpegRGB with an impossible frame
  Bytes corruptWithRes;  // jpegWithRes cut inside the scan
};

// --- jobs -------------------------------------------------------------------------

Outcome Encode(const Image& img, double q, bool subsample, bool ascii85, int threads = 0) {
  const testing_support::OurEncodeResult e = testing_support::OurEncode(img, {q, subsample, false, 0, {}, threads, ascii85});
  return {e.ok, e.jpeg, 0, e.message, 0, {}, {}};
}

Outcome Decode(DecodePath path, const Bytes& data, bool ascii85 = false, int threads = 0) {
  const testing_support::PathVerdict v = testing_support::DecodeThrough(path, data, {threads, 1000, ascii85});
  return {v.ok, v.lines, 0, v.ok ? "" : v.message, v.resolution, v.resources, {}};
}

Outcome WriteStream(const Image& img, int32_t quality, const Bytes& resources, bool ascii85) {
  Outcome r;
  TMemoryStream target;
  TJPEGWriteStream* stream = MakeJPEGWriteFolioprintStream(&target);
  if (!resources.empty()) stream->fUserMarkers = HandleWith(resources);
  r.hostError = FailureCode([&] { WriteImage(stream, img, Options(img, quality), ascii85); });
  r.ok = r.hostError == 0;
  if (!r.ok) r.message = JPEGLastErrorMessage();
  FreeLargeHandle(stream->fUserMarkers);
  stream->Free();
  r.output = target.Contents();
  return r;
}

// Two decode filters (one on damaged data) and an encode filter open at
// once on one thread, each advanced by one line in turn; the damaged
// decoder's failure must land in its own entry and leave the others working.
Outcome Interleaved(const Inputs& in) {
  Outcome r;
  MemSource goodSource(in.jpegRGB, 700), badSource(in.corruptScan, 900);
  int16_t good[3] = {0, 0, -1}, bad[3] = {0, 0, -1};
  Stm* a = COpenJPEGDecode(goodSource.stm(), good);
  Stm* b = COpenJPEGDecode(badSource.stm(), bad);
  MemSink sink(256);
  JPEGEncodeParams p{0.4, 0, 0, 0, 0, 1, 150, 150, in.grey.width, in.grey.height, 1, 0, nullptr, 0};
  Stm* e = JPEGOpen(sink.stm(), &p);
  Bytes decodedA, decodedB;
  bool bOpen = b != nullptr;
  for (int y = 0; y < std::max(int{good[1]}, in.grey.height); y++) {
    if (a != nullptr && y < good[1] && JPEGDFilBuf(a) == 0) Append(&decodedA, a->base, LineBytes(good));
    if (bOpen && y < bad[1] && JPEGDFilBuf(b) == 0) {
      Append(&decodedB, b->base, LineBytes(bad));
    } else if (bOpen && y < bad[1]) {
      bOpen = false;
      r.message = JPEGLastErrorMessage();
    }
    if (e != nullptr && y < in.grey.height) StmFWrite(in.grey.Row(y), 1, in.grey.width, e);
  }
  r.ok = a != nullptr && e != nullptr && !e->error;
  JPEGDClose(a);
  JPEGDClose(b);
  JPEGClose(e);
  r.output = Cat({decodedA, decodedB, sink.Contents()});
  return r;
}

// What a job must do when run alone.
enum class Verdict { kWorks, kFails };

struct Job {
  const char* name;
  Verdict verdict;
  std::function<Outcome()> run;
};

std::vector<Job> MakeJobs(const Inputs& in) {
  const DecodePath filter = DecodePath::kFilter, read = DecodePath::kReadStream, thumb = DecodePath::kThumbnail;
  return {
      {"encode filter 4:2:0", Verdict::kWorks, [&] { return Encode(in.rgb, 0.76, true, false); }},
      {"encode filter grey to ASCII85", Verdict::kWorks, [&] { return Encode(in.grey, 0.25, false, true); }},
      {"encode filter CMYK", Verdict::kWorks, [&] { return Encode(in.cmyk, 1.0, false, false); }},
      {"encode filter refuses an empty image", Verdict::kFails, [&] { return Encode(in.noWidth, 0.5, false, false); }},
      {"encode filter on workers", Verdict::kWorks, [&] { return Encode(in.rgb, 0.76, true, false, 2); }},
      {"decode filter", Verdict::kWorks, [&] { return Decode(filter, in.jpegRGB); }},
      {"decode filter on workers", Verdict::kWorks, [&] { return Decode(filter, in.jpegRGB, false, 2); }},
      {"decode filter on workers, damaged scan", Verdict::kFails, [&] { return Decode(filter, in.corruptScan, false, 3); }},
      {"decode filter under ASCII85", Verdict::kWorks, [&] { return Decode(filter, in.textJPEG, true); }},
      {"decode filter damaged scan", Verdict::kFails, [&] { return Decode(filter, in.corruptScan); }},
      {"decode filter damaged header", Verdict::kFails, [&] { return Decode(filter, in.corruptHeader); }},
      {"write stream with resources", Verdict::kWorks, [&] { return WriteStream(in.rgb, 4, in.resources, false); }},
      {"write stream CMYK to ASCII85", Verdict::kWorks, [&] { return WriteStream(in.cmyk, 2, {}, true); }},
      {"read stream with resources", Verdict::kWorks, [&] { return Decode(read, in.jpegWithRes); }},
      {"read stream of ASCII85", Verdict::kWorks, [&] { return Decode(read, in.textJPEG, true); }},
      {"read stream cut short", Verdict::kFails, [&] { return Decode(read, in.corruptWithRes); }},
      {"read stream damaged header", Verdict::kFails, [&] { return Decode(read, in.corruptHeader); }},
      {"thumbnail with resource segments", Verdict::kWorks, [&] { return Decode(thumb, in.jpegWithRes); }},
      {"thumbnail damaged header", Verdict::kFails, [&] { return Decode(thumb, in.corruptHeader); }},
      {"thumbnail damaged scan", Verdict::kFails, [&] { return Decode(thumb, in.corruptScan); }},
      {"interleaved filters and streams", Verdict::kWorks, [&] { return Interleaved(in); }},
  };
}

Inputs MakeInputs() {
  Inputs in;
  in.jpegRGB = Encode(in.rgb, 0.76, true, false).output;
  in.textJPEG = Encode(in.rgb, 0.76, true, true).output;
  in.jpegWithRes = WriteStream(in.rgb, 5, in.resources, false).output;

  // Damage the entropy-coded data two thirds of the way into the scan: the
  // decoder meets a marker where it needs bits, after the open.
  const size_t scan = FindMarker(in.jpegRGB, 0xDA);
  in.corruptScan = in.jpegRGB;
  const size_t hit = scan + (in.jpegRGB.size() - scan) * 2 / 3;
  for (size_t i = hit; i < hit + 40; i += 2) in.corruptScan[i] = 0xFF, in.corruptScan[i + 1] = 0xC8;

  // A frame of five components.
  in.corruptHeader = in.jpegRGB;
  in.corruptHeader[FindMarker(in.jpegRGB, 0xC0) + 9] = 5;

  in.corruptWithRes = Bytes(in.jpegWithRes.begin(), in.jpegWithRes.end() - 300);  // inside the scan
  return in;
}

// Runs a job after an earlier failure's message: what the job leaves as the
// thread's last message (its own, that one, or none when it clears it) is
// part of its outcome, so another thread's message showing here is caught.
Outcome RunAfterAFailure(const Job& job) {
  JPEGErrorMessage("an earlier failure");
  DCTClearFailure();
  Outcome r = job.run();
  r.left = JPEGLastErrorMessage();
  return r;
}

// Runs `order` on this thread, checking each outcome against `reference`.
std::vector<std::string> RunJobs(const std::vector<Job>& jobs, const std::vector<Outcome>& reference,
                                 const std::vector<size_t>& order) {
  std::vector<std::string> problems;
  for (size_t k : order) {
    const Outcome got = RunAfterAFailure(jobs[k]);
    if (got.Key() != reference[k].Key())
      problems.push_back(std::string(jobs[k].name) + ": not as alone (message \"" + got.message + "\", left \"" + got.left + "\")");
  }
  return problems;
}

}  // namespace

TEST(Stress, EightThreadsMatchTheSingleThreadedRun) {
  const Inputs in = MakeInputs();
  const std::vector<Job> jobs = MakeJobs(in);

  std::vector<Outcome> reference;
  for (const Job& job : jobs) reference.push_back(RunAfterAFailure(job));
  // The damaged inputs fail, with the codec's reason, and the good ones work.
  for (size_t k = 0; k < jobs.size(); k++) {
    const bool fails = jobs[k].verdict == Verdict::kFails;
    EXPECT_EQ(reference[k].ok, !fails) << jobs[k].name << ": " << reference[k].message;
    EXPECT_TRUE(!fails || !reference[k].message.empty()) << jobs[k].name;
  }
  EXPECT_NE(reference.back().message, "") << "the interleaved damaged decoder failed";

  std::vector<std::vector<std::string>> problems(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    std::vector<size_t> order;
    for (int round = 0; round < Rounds(); round++)
      for (size_t k = 0; k < jobs.size(); k++) order.push_back(k);
    std::shuffle(order.begin(), order.end(), std::mt19937(static_cast<uint32_t>(t + 1)));
    threads.emplace_back([&, t, order] { problems[t] = RunJobs(jobs, reference, order); });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; t++) {
    EXPECT_TRUE(problems[t].empty()) << "thread " << t << ": " << problems[t].size() << " problems, first: "
                                     << (problems[t].empty() ? "" : problems[t].front());
  }
}
