// strip_jobs.h - opt-in coding of restart intervals on worker threads.
//
// Restart markers cut the entropy-coded data into intervals that do not
// depend on one another: each starts byte-aligned with the DC predictors at
// zero (ITU-T T.81 F.1.2.3, E.1.4). When every strip (MCU row) of a scan
// begins a new interval, which is so for every file the encoder writes (one
// interval per MCU row), strips can be coded on several threads at once:
//
//  - the encoder (parallel_encode.cpp) keeps the raster lines of the next
//    strips in a job and has a worker convert and code them into a byte
//    buffer of its own; the filter's thread goes on taking lines and writes
//    the buffers out in order when the ring of jobs is full (or at the
//    end), joining them with the padding the serial coder writes before a
//    restart marker;
//  - the decoder (parallel_decode.cpp) reads ahead the compressed bytes of
//    the next strips, up to their restart markers, and has workers decode
//    them into raster lines, which the filter's thread hands out in order.
//
// A job is a run of consecutive strips, enough pixels that handing it over
// costs little beside its coding, yet few enough strips that every worker
// has several jobs of an image. Within a job the worker runs the serial
// coder itself, restart markers and all.
//
// The bytes written and the samples made are exactly those of the serial
// coder, errors included: a worker's failure is raised by the filter's
// thread, with the same message, when the serial coder would have reached
// it. Each job works on a copy of the codec state (tables are shared
// read-only), so the workers share nothing mutable.
#ifndef JPEG_PARALLEL_STRIP_JOBS_H
#define JPEG_PARALLEL_STRIP_JOBS_H

#include <cstddef>
#include <cstdint>

#include "codec/codec_state.h"
#include "parallel/worker_pool.h"

// Most worker threads a filter may ask for.
constexpr int32_t kDCTMostCodingThreads = 64;

// Where a source that serves a byte array a window at a time stands: the
// end of the window served, and the byte its guard covers (parallel_decode.cpp).
struct DCTWindowCursor {
  size_t end;
  uint8_t covered;
};

// A run of strips on its way through a worker.
struct DCTStripJob {
  DCTPoolJob work;         // first: the pool's view of the job
  DCTState state;          // the codec state the worker codes with
  uint8_t* strips[4];      // the job's own component strips
  uint8_t* bytes;          // compressed bytes: the encoder's output, the decoder's input
  size_t size;             // dec: bytes held
  size_t capacity;         // room at `bytes`, one guard byte not counted
  size_t dataStart;        // dec: where the strip's data starts (the restart marker before it)
  size_t consumedEnd;      // dec: end of what reading ahead took from the source for it
  size_t resumeAt;         // dec: where the serial reader goes on after a diverged strip
  int32_t diverged;        // dec: the serial reader would not go on at the ending marker
  int32_t endedAtEnd;      // dec: the strip's bytes run to the end of the data
  uint8_t* lines;          // the strip's raster lines: enc: as received, dec: as made
  size_t lineStride;       // bytes from one of them to the next
  int32_t lineCount;       // enc: lines received
  Stm stream;              // enc: writes into `bytes`; dec: reads from them
  DCTWindowCursor window;  // dec: the window the stream serves
  int32_t firstLine;       // first raster line of the job's first strip
  int32_t stripCount;      // strips in the job
  int32_t failed;          // the worker's coding raised an error
  int32_t stripsDone;      // dec: strips decoded (and their lines made) before it
  char message[256];       // its message
};

struct DCTParallel {
  DCTWorkerPool* pool;
  DCTStripJob** jobs;    // a ring of `slots` jobs
  int32_t slots;
  int32_t stripsPerJob;  // strips a job takes (the last job of an image may take fewer)
  int32_t head;          // the oldest job in flight
  int32_t inFlight;
  // The decoder's read-ahead: what the next strip to gather starts with.
  int32_t gatherOpen;    // more strips may be gathered
  int32_t gatherLine;
  int32_t gatherBlockNumber;
  int32_t gatherMarkerNumber;
  int32_t strayBytes;    // the job after the last in flight holds bytes read ahead for nothing
  const DCTStripJob* linesFrom;  // dec: the job whose lines the strip being handed out has
  int32_t linesFromStrip;        // dec: which of its strips that is
  uint8_t* ownLineBuffer;        // dec: the state's line buffer, while lines come from jobs
  DCTStripJob* filling;          // enc: the job receiving the lines of the strip under way
};

// MCUs of a strip that lies wholly inside the image.
int32_t DCTMCUsPerStrip(const DCTState* state);
// Whether the state may code its strips on workers: threads were asked for,
// the scan has restart intervals and every strip starts a new one.
bool DCTParallelWanted(const DCTState* state);
// Starts the workers and the ring of strip jobs, each with strip buffers
// sized as the state's and room for the raster lines of its strips, each
// as long as the line buffer for lines of lineBytes (the same margin after
// it); false, with nothing started, when that fails: the caller then codes
// on its own thread. The ring holds at most 32 MB at its start
// (but two jobs, whatever their size) and no more jobs than the image has
// and one; no more workers start than the ring can keep busy.
bool DCTParallelStart(DCTState* state, void (*run)(DCTPoolJob* job), int32_t lineBytes);
// Raster lines of one strip.
int32_t DCTLinesPerStrip(const DCTState* state);
// Waits for every job in flight, stops the workers and frees it all.
void DCTParallelRelease(DCTState* state);
// Frees the state's workers (first: they may still read its tables), the
// memory its releaseWork names and its strip memory (filter_release.cpp).
void DCTfree(DCTState* state);
// Frees a filter context with everything it owns: marker data, workers,
// strip memory, read-ahead source, state (filter_release.cpp).
void DCTReleaseFilter(JPEGFilterContext* ctx);

// The job at ring position `offset` from the head.
DCTStripJob* DCTParallelJobAt(const DCTParallel* p, int32_t offset);
// Takes the head job off the ring once it has run.
DCTStripJob* DCTParallelTakeHead(DCTState* state);
// Raises the error the job's worker met, with its message, on this thread.
[[noreturn]] void DCTParallelRaise(const DCTStripJob* job);
// The state copy a job starts from: the caller's, with the job's strips.
void DCTParallelSnapshot(DCTStripJob* job, const DCTState* state);
// Submits the job at the ring's tail.
void DCTParallelSubmit(DCTState* state, DCTStripJob* job);
// Arms the error jump on the worker thread around one strip's coding.
void DCTParallelRunGuarded(DCTStripJob* job, void (*code)(DCTStripJob* job));

// The strip coders on workers (parallel_encode.cpp, parallel_decode.cpp).
void DCTEParallelStart(DCTState* state);
// Keeps the raster line in the line buffer for the strip's worker.
void DCTEParallelLine(DCTState* state);
// After the image's last line: the worker completes the strip (as
// DCTEget_ovflines does on the filter's thread).
void DCTEParallelLastLine(DCTState* state);
void DCTEParallelStrip(DCTState* state, int32_t firstLine);
void DCTEParallelFinish(DCTState* state);
// Before an image is given up: the strips complete so far are coded and
// written, as the serial coder has written them.
void DCTEParallelDrain(DCTState* state);
// Fills the component strips with the next strip decoded by a worker; false
// when no worker strip is at hand, and the caller decodes it itself.
bool DCTDParallelStrip(DCTState* state);
// Points the line buffer at the next raster line of a strip a worker made
// (the line stays in the job until the next strip is under way); false when
// the strip was decoded on the filter's thread.
bool DCTDParallelLine(DCTState* state);
// Frees the source that hands read-ahead bytes back to the serial decoder.
void DCTDFreeReplaySource(DCTState* state);

#endif
