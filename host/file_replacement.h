// file_replacement.h - the open files behind TFileStream (host_streams.cpp):
// reading, and writing a new file that replaces the named one only once it
// is finished (file_replacement.cpp). Internal to the host layer.
#ifndef JPEG_HOST_FILE_REPLACEMENT_H
#define JPEG_HOST_FILE_REPLACEMENT_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "host_framework.h"

struct HostOpenFile {
  std::FILE* file = nullptr;
  std::string target;     // the file the new one replaces; empty: written directly
  std::string temporary;  // the new file, beside the target, until it is put in place
  int16_t failure = kHostNoError;  // the code of the first write that failed
};

// The failure code for the errno a failed file operation left.
int16_t HostErrorForErrno(int err);

// Open files (new, owned by the caller; free them with FinishHostFile or
// AbandonHostFile). Both raise the failure met, leaving nothing behind.
HostOpenFile* OpenHostFileForReading(const std::string& path);
// A regular file (or none yet) gets a new file beside it, made with the
// permission bits of the one it replaces; a special file is opened directly.
HostOpenFile* OpenHostFileForWriting(const std::string& path);

// Closes f and puts a new file in place of its target; frees f. On any
// failure (also f's recorded one) the new file is removed, the target is left
// as it was and the failure is raised.
void FinishHostFile(HostOpenFile* f);
// Closes f and removes a new file without putting it in place; frees f.
void AbandonHostFile(HostOpenFile* f) noexcept;

#endif
