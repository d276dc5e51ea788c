// progress.h - the "encoding: 42%" line shown on stderr while a large image
// is coded. It appears only when stderr is a terminal and --quiet was not
// given, and it is erased when the work ends.
#ifndef JPEGTOOL_PROGRESS_H
#define JPEGTOOL_PROGRESS_H

#include <string>

namespace jpegtool {

class Progress {
 public:
  // verb: what is being done ("encoding"); total: the number of steps
  // (lines); pixels decides whether the image is large enough to bother.
  Progress(const std::string& verb, long total, long long pixels, bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Update(long done);

 private:
  std::string verb_;
  long total_;
  bool enabled_;
  int shownPercent_ = -1;
};

}  // namespace jpegtool

#endif
