// file_io.h - whole-file reads and the outputs of every command.
//
// OutputFile decides how an output is written:
// - a new file, or an existing regular file: through a temporary file beside
//   it that is renamed over it only when the command commits, so a failure
//   leaves the old file untouched and no half-written one behind; the new
//   file keeps the old one's permission bits;
// - "-": standard output, written in place;
// - an existing symbolic link or anything that is not a regular file (a
//   device such as /dev/null, a FIFO, /dev/stdout): written through, in
//   place, and never replaced. A regular file reached through a link is
//   truncated only when the first byte is written.
// An existing file the user may not write to is never replaced: access(2)
// decides, and for the superuser, to whom access(2) grants everything, a
// file with no write permission bit at all counts as read-only too.
// Every write error (a full disk, /dev/full) is a failure naming the output.
//
// CheckOutputsApart runs before any output is opened: an output that is one
// of the inputs, by its name or through a hard or symbolic link, and two
// outputs that are one file are refused as a wrong command line.
#ifndef JPEGTOOL_FILE_IO_H
#define JPEGTOOL_FILE_IO_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace jpegtool {

using Bytes = std::vector<uint8_t>;

// The whole input ("-": standard input); a ToolError names the file and the
// system's reason.
Bytes ReadWholeFile(const std::string& path);

class OutputFile {
 public:
  explicit OutputFile(const std::string& path);  // checks the target, creates the temporary file
  ~OutputFile();                                 // removes the temporary file unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& Name() const { return name_; }
  bool IsStandardOutput() const { return standardOutput_; }
  // Buffered; fails with "cannot write NAME: reason".
  void Write(const void* data, size_t size);
  // Writes out the buffer and closes the file (not standard output); fails
  // on any write or close error. The output is complete but not yet in place.
  void Finish();
  // Finish, then rename the temporary file into place.
  void Commit();
  // Why the last write failed ("" if none), for callers whose writes pass
  // through code that only reports failure codes.
  const std::string& WriteError() const { return writeError_; }
  int WriteErrno() const { return writeErrno_; }  // 0 if none

 private:
  void OpenInPlace(const std::string& path);
  void OpenTemporary(const std::string& path, mode_t mode);
  void WriteOut(const uint8_t* data, size_t size);
  [[noreturn]] void FailWrite(int error);

  std::string name_;
  std::string temporaryPath_;  // "" when written in place
  int fd_ = -1;
  bool ownsFd_ = false;
  bool standardOutput_ = false;
  bool truncateOnFirstWrite_ = false;
  bool finished_ = false;
  bool committed_ = false;
  std::vector<uint8_t> buffer_;
  size_t buffered_ = 0;
  std::string writeError_;
  int writeErrno_ = 0;
};

// Refuses (usage error) an output that is an input or another output: the
// same regular file (device and inode, links followed), or, for files not
// there yet, the same place once links and directories are resolved. "-"
// and devices, FIFOs and the like are not compared. An output whose links
// loop fails with the system's reason.
void CheckOutputsApart(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs);

// Finishes every output, then renames them all into place: either all are
// written or (as far as renames go) none is replaced.
void CommitAll(const std::vector<OutputFile*>& outputs);

void WriteWholeFile(const std::string& path, const void* data, size_t size);

// A directory (and its parents) for the demo output.
void MakeDirectories(const std::string& path);

}  // namespace jpegtool

#endif
