// file_replacement.cpp - the open files behind TFileStream (declared in
// file_replacement.h). A file is written as a new file in the folder of the
// one it replaces and renamed over it only when finished, so a save that
// fails (refused options, a codec failure, a full disk, a stream freed half
// way) leaves the old file byte for byte as it was. Symbolic links are
// followed to the file they lead to, which is the one replaced.
#include "host/file_replacement.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Links followed before a path counts as a loop of links.
constexpr int kMaxLinks = 40;
// Names tried for the new file before giving up.
constexpr int kMaxNameTries = 100;

std::unique_ptr<HostOpenFile> NewOpenFile() {
  std::unique_ptr<HostOpenFile> f(new (std::nothrow) HostOpenFile);
  FailNIL(f.get());
  return f;
}

// The file a path leads to: symbolic links followed, a relative link from
// the folder that holds it. A path that does not lead anywhere yet is the
// file to make.
fs::path FinalTarget(const fs::path& path) {
  fs::path p = path;
  for (int links = 0; links < kMaxLinks; links++) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec))) return p;
    const fs::path next = fs::read_symlink(p, ec);
    if (ec) Failure(HostErrorForErrno(ec.value()), 0);
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  Failure(kHostIOError, 0);
}

// A name for the new file beside target that no other save uses at once.
fs::path TemporaryName(const fs::path& target) {
  static std::atomic<uint32_t> serial{0};
  const auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".%llx.%x.part", ticks, serial.fetch_add(1));
  return target.parent_path() / ("." + target.filename().string() + suffix);
}

// Makes the new file beside target, failing if the name is taken.
std::FILE* CreateBeside(const fs::path& target, fs::path* name) {
  for (int tries = 0; tries < kMaxNameTries; tries++) {
    *name = TemporaryName(target);
    errno = 0;
    if (std::FILE* f = std::fopen(name->c_str(), "wbx")) return f;
    if (errno != EEXIST) Failure(HostErrorForErrno(errno), 0);
  }
  Failure(kHostIOError, 0);
}

// Raises the failure a file that exists and may not be written would meet.
void RequireWritable(const fs::path& target) {
  errno = 0;
  std::FILE* probe = std::fopen(target.c_str(), "r+b");  // opens for writing, changes nothing
  if (probe == nullptr) Failure(HostErrorForErrno(errno), 0);
  std::fclose(probe);
}

}  // namespace

int16_t HostErrorForErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR: return kHostFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kHostPermission;
    case ENOSPC: return kHostDiskFull;
    case ENOMEM: return kHostNoMemory;
    default: return kHostIOError;
  }
}

HostOpenFile* OpenHostFileForReading(const std::string& path) {
  std::unique_ptr<HostOpenFile> f = NewOpenFile();
  errno = 0;
  f->file = std::fopen(path.c_str(), "rb");
  if (f->file == nullptr) Failure(HostErrorForErrno(errno), 0);
  return f.release();
}

HostOpenFile* OpenHostFileForWriting(const std::string& path) {
  std::unique_ptr<HostOpenFile> f = NewOpenFile();
  const fs::path target = FinalTarget(path);
  std::error_code ec;
  const fs::file_status status = fs::status(target, ec);
  if (fs::is_directory(status)) Failure(kHostPermission, 0);
  if (target.filename().empty()) Failure(kHostFileNotFound, 0);
  if (fs::exists(status) && !fs::is_regular_file(status)) {  // a device or a pipe: nothing to keep
    errno = 0;
    f->file = std::fopen(path.c_str(), "wb");
    if (f->file == nullptr) Failure(HostErrorForErrno(errno), 0);
    return f.release();
  }
  if (fs::exists(status)) RequireWritable(target);
  fs::path temporary;
  f->file = CreateBeside(target, &temporary);
  f->target = target.string();
  f->temporary = temporary.string();
  std::error_code chmodFailure;
  if (fs::exists(status)) fs::permissions(temporary, status.permissions(), chmodFailure);
  if (chmodFailure) {
    AbandonHostFile(f.release());
    Failure(HostErrorForErrno(chmodFailure.value()), 0);
  }
  return f.release();
}

void FinishHostFile(HostOpenFile* f) {
  std::unique_ptr<HostOpenFile> owned(f);
  errno = 0;
  const bool closed = std::fclose(f->file) == 0;
  int16_t failure = f->failure;
  if (failure == kHostNoError && !closed) failure = HostErrorForErrno(errno);
  f->file = nullptr;
  if (failure == kHostNoError && !f->temporary.empty()) {
    std::error_code ec;
    fs::rename(f->temporary, f->target, ec);
    if (ec) failure = HostErrorForErrno(ec.value());
  }
  if (failure == kHostNoError) return;
  AbandonHostFile(owned.release());
  Failure(failure, 0);
}

void AbandonHostFile(HostOpenFile* f) noexcept {
  if (f->file != nullptr) std::fclose(f->file);
  if (!f->temporary.empty()) {
    std::error_code ec;
    fs::remove(f->temporary, ec);
  }
  delete f;
}
