// test_host_framework.cpp - the host framework layer: failures and the
// TryBlock, large handles, memory and file streams (including the codes for
// missing files and failed writes) and stream ownership.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <new>

#include "host_test_util.h"

using namespace host_test;

TEST(TryBlockTest, KeepsHandlesAndPassesOnFailures) {
  TryBlock clean;
  clean.Try([] {});
  EXPECT_TRUE(clean.Always());
  EXPECT_FALSE(clean.Catch(1));
  EXPECT_NO_THROW(clean.End());

  TryBlock handled;
  handled.Try([] { Failure(-43, 7); });
  EXPECT_TRUE(handled.Catch(1));
  EXPECT_EQ(handled.Error(), -43);
  EXPECT_EQ(handled.Message(), 7);
  EXPECT_NO_THROW(handled.End());

  TryBlock passed;
  passed.Try([] { Failure(-36, 0); });
  EXPECT_EQ(FailureCode([&] { passed.End(); }), -36);
}

TEST(TryBlockTest, ForeignExceptionsBecomeHostCodes) {
  TryBlock memory;
  memory.Try([] { throw std::bad_alloc(); });
  EXPECT_TRUE(memory.Catch(1));
  EXPECT_EQ(memory.Error(), kHostNoMemory);

  TryBlock other;
  other.Try([] { throw 42; });
  EXPECT_TRUE(other.Catch(1));
  EXPECT_EQ(other.Error(), kHostIOError);

  TryBlock zero;  // a failure with code 0 must not read as success
  zero.Try([] { Failure(0, 0); });
  EXPECT_TRUE(zero.Catch(1));
  EXPECT_EQ(zero.Error(), kHostIOError);
}

TEST(LargeHandles, ResizeKeepsContents) {
  LargeHandle h = NewLargeHandle(5);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetHandleSize(h), 5);
  std::memcpy(*h, "abcde", 5);
  ResizeLargeHandle(h, 100000);
  EXPECT_EQ(GetHandleSize(h), 100000);
  EXPECT_EQ(std::memcmp(*h, "abcde", 5), 0);
  ResizeLargeHandle(h, 2);
  EXPECT_EQ(HandleBytes(h), (Bytes{'a', 'b'}));
  FreeLargeHandle(h);
  FreeLargeHandle(nullptr);
  EXPECT_EQ(GetHandleSize(nullptr), 0);

  LargeHandle empty = NewLargeHandle(0);
  EXPECT_EQ(GetHandleSize(empty), 0);
  FreeLargeHandle(empty);
  EXPECT_EQ(FailureCode([] { NewLargeHandle(-1); }), kHostParamError);
}

TEST(MemoryStream, ReadsExactlyOrRaisesEndOfFile) {
  TMemoryStream s(Bytes{1, 2, 3, 4, 5});
  uint8_t buf[8] = {};
  s.GetBytes(3, buf);
  EXPECT_EQ(s.GetPosition(), 3);
  EXPECT_EQ(s.GetLength(), 5);
  EXPECT_EQ(FailureCode([&] { s.GetBytes(3, buf); }), kHostEndOfFile);
  EXPECT_EQ(s.GetPosition(), 3);  // nothing consumed by the failed read
  s.GetBytes(2, buf + 3);
  EXPECT_EQ(Bytes(buf, buf + 5), (Bytes{1, 2, 3, 4, 5}));
}

TEST(FileStream, WritesAndReadsBackAFile) {
  TempDir dir;
  TFile file(dir.File("data.bin"));
  const Bytes data = ResourceBytes(20000);
  {
    TFileStream out;
    out.IFileStream(&file, TFileStream::kWriteMode);
    out.PutBytes(5000, data.data());
    out.PutBytes(15000, data.data() + 5000);
    EXPECT_EQ(out.GetPosition(), 20000);
    out.Close();
  }
  TFileStream in;
  in.IFileStream(&file, TFileStream::kReadMode);
  EXPECT_EQ(in.GetLength(), 20000);
  Bytes back(20000);
  in.GetBytes(20000, back.data());
  EXPECT_EQ(back, data);
  EXPECT_EQ(FailureCode([&] { in.GetBytes(1, back.data()); }), kHostEndOfFile);
}

TEST(FileStream, OpenFailuresHaveTheirCodes) {
  TempDir dir;
  TFile missing(dir.File("no-such-file.jpg"));
  TFile inMissingFolder(dir.File("no-such-folder/out.jpg"));
  TFileStream a, b, c;
  EXPECT_EQ(FailureCode([&] { a.IFileStream(&missing, TFileStream::kReadMode); }), kHostFileNotFound);
  EXPECT_EQ(FailureCode([&] { b.IFileStream(&inMissingFolder, TFileStream::kWriteMode); }),
            kHostFileNotFound);
  EXPECT_EQ(FailureCode([&] { c.IFileStream(&missing, 2); }), kHostParamError);
}

TEST(FileStream, ReportsAFailingWrite) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TFile full("/dev/full");
  TFileStream out;
  out.IFileStream(&full, TFileStream::kWriteMode);
  Bytes data(100, 7);
  EXPECT_EQ(FailureCode([&] { out.PutBytes(100, data.data()); }), kHostDiskFull);
}

TEST(LayeredStreams, ForwardAndOwnOnlyWhenTold) {
  auto* source = new FailingStream(Bytes{9, 8, 7});
  const int before = FailingStream::alive;
  {
    auto* reader = new TReadStream;
    reader->IReadStream(source);
    uint8_t b[2];
    reader->GetBytes(2, b);
    EXPECT_EQ(reader->GetPosition(), 2);
    EXPECT_EQ(reader->GetLength(), 3);
    reader->Free();  // does not own the source
    EXPECT_EQ(FailingStream::alive, before);
  }
  auto* writer = new TWriteStream;
  writer->IWriteStream(source, 16384);
  writer->SetOwnsTarget(true);
  writer->PutBytes(2, "ab");
  EXPECT_EQ(source->Contents().size(), 5u);
  FreeIfObject(writer);  // frees the source with it
  EXPECT_EQ(FailingStream::alive, before - 1);
  FreeIfObject(nullptr);
  TReadStream unset;
  EXPECT_EQ(FailureCode([&] { unset.IReadStream(nullptr); }), kHostParamError);
}

