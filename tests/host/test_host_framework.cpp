// test_host_framework.cpp - the host framework where a fault could hide:
// every failure (foreign exceptions and code 0 too) turned into a host code,
// a failed read that consumes nothing, file open failures, and large handles
// keeping their contents. Stream ownership is checked by LeakSanitizer
// wherever the JPEG streams free the file streams they own.
#include <new>

#include "host_test_util.h"

using namespace host_test;

TEST(HostFramework, FailuresBecomeHostCodes) {
  // Foreign exceptions have codes too, and a failure must never read as success.
  const std::pair<void (*)(), int16_t> cases[] = {{[] { Failure(-43, 7); }, -43},
                                                  {[] { throw std::bad_alloc(); }, kHostNoMemory},
                                                  {[] { throw 42; }, kHostIOError},
                                                  {[] { Failure(0, 0); }, kHostIOError}};
  for (const auto& [body, code] : cases) {
    TryBlock handled, passed;
    EXPECT_TRUE(handled.Try(body).Catch(1));
    EXPECT_EQ(handled.Error(), code);
    EXPECT_EQ(FailureCode([&] { passed.Try(body).End(); }), code);  // unhandled: raised again
  }
}

TEST(HostFramework, StreamsAndHandles) {
  TMemoryStream memory(Bytes{1, 2, 3});
  uint8_t buf[3];
  EXPECT_EQ(FailureCode([&] { memory.GetBytes(4, buf); }), kHostEndOfFile);
  memory.GetBytes(3, buf);  // the failed read consumed nothing
  EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{1, 2, 3}));

  TFile folder(::testing::TempDir()), missing(TempFile("none/missing"));
  TFileStream a, b, c;
  EXPECT_EQ(FailureCode([&] { a.IFileStream(&missing, TFileStream::kWriteMode); }), kHostFileNotFound);
  EXPECT_EQ(FailureCode([&] { b.IFileStream(&folder, TFileStream::kReadMode); }), kHostIOError);
  EXPECT_EQ(FailureCode([&] { c.IFileStream(&folder, TFileStream::kWriteMode); }), kHostPermission);

  LargeHandle h = HandleWith(Str("abcde", 5));
  ResizeLargeHandle(h, 100000);
  ResizeLargeHandle(h, 2);
  EXPECT_EQ(HandleBytes(h), Str("ab", 2));
  FreeLargeHandle(h);
}
