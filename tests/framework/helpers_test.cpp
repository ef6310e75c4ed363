#include "framework/helpers.h"

#include <gtest/gtest.h>

#include <cmath>

#include "framework/program_entry.h"
#include "framework/streams.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<int> g_exit_order;
void exit_before() { g_exit_order.push_back(0); }
void exit_p1() { g_exit_order.push_back(1); }
void exit_p2() { g_exit_order.push_back(2); }

TEST(ExitProcs, RunLastAddedFirstThenThePreviousOne) {
  ExitProc = &exit_before;
  AddExitProc(&exit_p1);
  AddExitProc(&exit_p2);
  RunExitProcs();
  EXPECT_EQ(g_exit_order, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(ExitProc, nullptr);
}

TEST(Helpers, BitsIntervalsAndClamps) {
  EXPECT_TRUE(BitIsSet(0x80000000u, 31));
  EXPECT_FALSE(BitIsSet(0x7FFFFFFFu, 31));
  EXPECT_EQ(SetBit(0, 33), 2u);
  EXPECT_EQ(ClearBit(0xFFu, 32), 0xFEu);
  EXPECT_EQ(MillisecondsToInterval(1500), 1.5L);
  EXPECT_EQ(IntervalToMilliseconds(0.0625L), 62);
  EXPECT_EQ(IntervalToMilliseconds(-0.0625L), -62);
  EXPECT_EQ(IntervalToMilliseconds(1.5L), 1500);
  EXPECT_EQ(Clamp(5, 10, 0), 10);
  EXPECT_EQ(Clamp(15, 0, 10), 10);
  EXPECT_EQ(Clamp(-3, 0, 10), 0);
  EXPECT_EQ(ClampToInt32(int64_t{1} << 40), 2147483647);
  EXPECT_EQ(ClampToInt32(-(int64_t{1} << 40)), INT32_MIN);
  EXPECT_EQ(NextPowerOfTwo(-3), 1);
  EXPECT_EQ(NextPowerOfTwo(5), 8);
  EXPECT_EQ(NextPowerOfTwo(8), 8);
  EXPECT_EQ(NextPowerOfTwo(1 << 30), 1 << 30);
}

TEST(Helpers, MinMaxReturnTheFirstWhenEqual) {
  // -0.0 and 0.0 compare equal: the first argument must come back.
  EXPECT_TRUE(std::signbit(Min(-0.0, 0.0)));
  EXPECT_FALSE(std::signbit(Max(0.0f, -0.0f)));
  EXPECT_EQ(Min(3, 2), 2);
  EXPECT_EQ(Max(3.5L, 4.5L), 4.5L);
}

TEST(Helpers, NullTerminatedStrings) {
  EXPECT_EQ(WithNullTerminator(""), std::string(1, '\0'));
  EXPECT_EQ(WithNullTerminator(std::string("ab\0", 3)), std::string("ab\0", 3));
  EXPECT_EQ(WithNullTerminator("ab"), std::string("ab\0", 3));
  EXPECT_EQ(WideWithNullTerminator(u"x"), std::u16string(u"x\0", 2));
  EXPECT_EQ(CharToString('q'), "q");
}

TEST(ReadLine, AllThreeLineEndsAndTheEnd) {
  TMemoryStream s;
  s.WriteString("ab\r\ncd\ref\n");
  s.SetPosition(0);
  EXPECT_EQ(ReadLine(s), "ab");
  EXPECT_EQ(ReadLine(s), "cd");
  EXPECT_EQ(s.GetPosition(), 7);  // after a lone CR the position is on the next character
  EXPECT_EQ(ReadLine(s), "ef");
  EXPECT_EQ(s.GetPosition(), s.GetSize());
  EXPECT_EQ(ReadLine(s), "");
  TMemoryStream t;
  t.WriteString("last");
  t.SetPosition(0);
  EXPECT_EQ(ReadLine(t), "last");
  EXPECT_EQ(ReadLine(t), "");
}

TEST(Streams, ValuesAreLittleEndianAndShortReadsReportTheirCount) {
  TMemoryStream s;
  EXPECT_EQ(WriteValue(s, uint16_t{0x0102}), 2);
  EXPECT_EQ(WriteValue(s, int32_t{-2}), 4);
  EXPECT_EQ(WriteValue(s, uint64_t{0x0807060504030201ULL}), 8);
  EXPECT_EQ(s.Memory()[0], 0x02);
  EXPECT_EQ(s.Memory()[6], 0x01);
  s.SetPosition(0);
  uint16_t a = 0;
  int32_t b = 0;
  uint64_t c = 0;
  EXPECT_EQ(ReadValue(s, a), 2);
  EXPECT_EQ(ReadValue(s, b), 4);
  EXPECT_EQ(ReadValue(s, c), 8);
  EXPECT_EQ(a, 0x0102);
  EXPECT_EQ(b, -2);
  EXPECT_EQ(c, 0x0807060504030201ULL);
  int64_t d = 0;
  EXPECT_EQ(ReadValue(s, d), 0);
}

TEST(Streams, FileModes) {
  TempDir dir;
  const std::string name = dir.file("f.bin");
  EXPECT_THROW(TFileStream(name, fmOpenRead), EFOpenError);
  {
    TFileStream f(name, fmCreate);
    f.WriteString("hello");
  }
  {
    TFileStream f(name, fmOpenWrite);
    f.Seek(0, soEnd);
    f.WriteString("!");
    char c;
    EXPECT_EQ(f.Read(&c, 1), 0);  // write-only: nothing can be read
  }
  {
    TFileStream f(name, fmOpenReadWrite);
    EXPECT_EQ(f.GetSize(), 6);
    f.SetPosition(1);
    f.WriteString("E");
    f.SetPosition(0);
    char buf[6];
    f.ReadBuffer(buf, 6);
    EXPECT_EQ(std::string(buf, 6), "hEllo!");
    EXPECT_THROW(f.ReadBuffer(buf, 1), EReadError);
  }
  {
    TFileStream f(name, fmCreate);  // empties an existing file
    EXPECT_EQ(f.GetSize(), 0);
  }
  EXPECT_THROW(TFileStream(dir.file("no/such/dir/x"), fmCreate), EFCreateError);
  EXPECT_THROW(TFileStream(name, 7), EFOpenError);
}

TEST(ProgramEntry, AnEscapingExceptionEndsWithOneLineAndStatusOne) {
  testing::internal::CaptureStderr();
  const int rc = run_guarded([] { throw EListError("List index (3) out of bounds"); });
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(err, "EListError: List index (3) out of bounds\n");
  EXPECT_EQ(run_guarded([] {}), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(run_guarded([] { throw 42; }), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: unknown exception\n");
}

}  // namespace
