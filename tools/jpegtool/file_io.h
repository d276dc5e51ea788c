// file_io.h - whole-file reading and safe output files.
//
// An output is never written in place: AtomicOutput creates a temporary file
// beside the destination and renames it over the destination only when the
// command commits it, so a failure leaves any existing file untouched and no
// half-written one behind.
#ifndef JPEGTOOL_FILE_IO_H
#define JPEGTOOL_FILE_IO_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace jpegtool {

using Bytes = std::vector<uint8_t>;

// The whole file; a ToolError names the file and the system's reason.
Bytes ReadWholeFile(const std::string& path);
// Fails the same way when path cannot be opened for reading or is a directory.
void CheckReadableFile(const std::string& path);

class AtomicOutput {
 public:
  explicit AtomicOutput(const std::string& destination);  // creates the temporary file
  ~AtomicOutput();                                        // removes it unless committed
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  const std::string& TemporaryPath() const { return temporaryPath_; }
  // The open temporary file, for commands that write through stdio.
  FILE* File() const { return file_; }
  void Write(const void* data, size_t size);
  // Closes the temporary file (if still open) so another writer may take the path.
  void CloseFile();
  // Closes, checks for write errors and renames the file into place.
  void Commit();

 private:
  std::string destination_;
  std::string temporaryPath_;
  FILE* file_ = nullptr;
  bool committed_ = false;
};

void WriteWholeFile(const std::string& path, const void* data, size_t size);

// A directory (and its parents) for the demo output.
void MakeDirectories(const std::string& path);

}  // namespace jpegtool

#endif
