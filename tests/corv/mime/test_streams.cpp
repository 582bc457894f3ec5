#include <cstring>
#include <vector>

#include "corv/mime/Codec.h"
#include "corv/mime/Stream.h"
#include "platform/win32/file.h"
#include "tests/corv/mime/helpers.h"

using namespace mimetest;

namespace {
struct Marks {
  std::vector<int> seen;
  static void Record(void* ctx, WORD pct) { static_cast<Marks*>(ctx)->seen.push_back(pct); }
};

std::string ReadAllLines(MyStream& s, DWORD room) {
  std::string all;
  std::vector<char> buf(room);
  while (DWORD n = s.ReadLine(buf.data(), room)) all.append(buf.data(), n);
  return all;
}
}  // namespace

TEST(StringStream, TextModeLineEndNeedsTwoBytesOfRoom) {
  char room[10];
  MyStringStream s(room, sizeof room, nullptr, nullptr, 0);
  s.Open(nullptr, 0, 0, 0);
  EXPECT_EQ(s.Write("abcdefghi", 9), 0);
  EXPECT_EQ(s.PutByte('\n'), 9);
  EXPECT_EQ(s.error, 9);  // kept for whoever asks the stream afterwards
  EXPECT_STREQ(StreamErrorText(s.TakeError()), "There's not enough space in output string");
  EXPECT_EQ(s.PutByte('x'), 9);
}

TEST(StringStream, ReadLineTextModeAndBounds) {
  std::string src = "one\r\ntwo\nthree";
  MyStringStream s(src.data(), DWORD(src.size()), nullptr, nullptr, 0);
  s.Open(nullptr, 0, 0, 0);
  char buf[8];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(s.ReadLine(buf, 8), 4u);
  EXPECT_STREQ(buf, "one\n");
  EXPECT_EQ(s.ReadLine(buf, 8), 4u);
  EXPECT_STREQ(buf, "two\n");
  EXPECT_EQ(s.ReadLine(buf, 4), 3u);  // n - 1 bytes at most, then the terminator
  EXPECT_STREQ(buf, "thr");
  EXPECT_EQ(s.ReadLine(buf, 8), 2u);
  EXPECT_EQ(s.ReadLine(buf, 8), 0u);
  EXPECT_EQ(s.position, src.size());
}

TEST(Progress, MarksAreReportedOnceAndEndAtHundred) {
  std::string src(100, 'x');
  Marks m;
  {
    MyStringStream s(src.data(), 100, &Marks::Record, &m, 50);
    char buf[100];
    s.completed = true;
    EXPECT_EQ(s.Read(buf, 100), 100u);
  }
  EXPECT_EQ(m.seen, (std::vector<int>{0, 50, 100}));

  Marks odd;
  {
    MyStringStream s(src.data(), 100, &Marks::Record, &odd, 30);
    char buf[100];
    s.completed = true;
    s.Read(buf, 40);
    s.Read(buf, 60);
  }
  EXPECT_EQ(odd.seen, (std::vector<int>{0, 30, 60, 90, 100}));
}

TEST(Progress, NoOverflowNoLoopNoReportsForStepsBelowOne) {
  Marks big;
  {
    MyStringStream s(nullptr, 0x80000000u, &Marks::Record, &big, 25);
    s.Advance(0x40000000u);  // a 32-bit product would wrap here
  }
  EXPECT_EQ(big.seen, (std::vector<int>{0, 25, 50}));

  Marks capped;
  {
    MyStringStream s(nullptr, 10, &Marks::Record, &capped, 40);
    s.Advance(1000);  // more than the size: percent stays at 100
  }
  EXPECT_EQ(capped.seen, (std::vector<int>{0, 40, 80}));

  for (short step : {short(0), short(-5)}) {
    Marks none;
    {
      MyStringStream s(nullptr, 10, &Marks::Record, &none, step);
      s.completed = true;
      s.Advance(10);
    }
    EXPECT_TRUE(none.seen.empty()) << step;
  }
}

TEST(FileStream, OpenErrors) {
  TempDir dir;
  MyFileStream missing(nullptr, false, 0, nullptr, nullptr, 0);
  EXPECT_EQ(missing.Open((dir / "nothing").c_str(), GENERIC_READ, 1, 0), 4);

  WriteFile(dir / "there", "x");
  MyFileStream keep(nullptr, false, 0, nullptr, nullptr, 0);
  EXPECT_EQ(keep.Open((dir / "there").c_str(), GENERIC_WRITE, 1, 0), 8);
  EXPECT_EQ(ReadFile(dir / "there"), "x");
  {
    MyFileStream replace(nullptr, true, 0, nullptr, nullptr, 0);
    EXPECT_EQ(replace.Open((dir / "there").c_str(), GENERIC_WRITE, 1, 0), 0);
    replace.Write("new", 3);
  }
  EXPECT_EQ(ReadFile(dir / "there"), "new");

  MyFileStream bad(nullptr, true, 0, nullptr, nullptr, 0);
  EXPECT_EQ(bad.Open((dir / "no/such/dir/f").c_str(), GENERIC_WRITE, 1, 0), 3);

  std::string longName(1024, 'a');
  MyFileStream tooLong(nullptr, true, 0, nullptr, nullptr, 0);
  EXPECT_EQ(tooLong.Open(longName.c_str(), GENERIC_WRITE, 1, 0), 16);
  EXPECT_STREQ(StreamErrorText(16), "The given filename doesn't exist");
}

TEST(FileStream, NumberedNamesAreNeverFormats) {
  TempDir dir;
  WORD counter = 0;
  std::string name = dir / "p%s%n%d???.txt";
  {
    MyFileStream w(&counter, true, 1, nullptr, nullptr, 0);
    ASSERT_EQ(w.Open(name.c_str(), GENERIC_WRITE, 1, 0), 0);
    w.Write("first", 5);
    EXPECT_EQ(w.NextPart(), 0);
    w.Write("second", 6);
  }
  EXPECT_EQ(counter, 1);
  EXPECT_EQ(ReadFile(dir / "p%s%n%d000.B64"), "first");
  EXPECT_EQ(ReadFile(dir / "p%s%n%d001.B64"), "second");

  counter = 0;
  MyFileStream r(&counter, false, 1, nullptr, nullptr, 0);
  ASSERT_EQ(r.Open(name.c_str(), GENERIC_READ, 1, 0), 0);
  EXPECT_EQ(r.size, 11u);  // both numbered files
  EXPECT_EQ(ReadAllLines(r, 64), "firstsecond");
  EXPECT_EQ(r.error, 0);

  // Reading from a later file goes on from there, never back to the first.
  counter = 1;
  MyFileStream later(&counter, false, 1, nullptr, nullptr, 0);
  ASSERT_EQ(later.Open(name.c_str(), GENERIC_READ, 1, 0), 0);
  EXPECT_EQ(later.size, 6u);
  EXPECT_EQ(ReadAllLines(later, 64), "second");
  EXPECT_EQ(counter, 1);

  // A name that fits but whose numbered form would not.
  std::string prefix = dir / std::string(1020 - dir.path().string().size(), 'n');
  WORD c2 = 0;
  MyFileStream over(&c2, true, 2, nullptr, nullptr, 0);
  EXPECT_EQ(over.Open((prefix + "???").c_str(), GENERIC_WRITE, 1, 0), 16);
}

TEST(FileStream, ReadLineStaysInsideTheCallersBuffer) {
  TempDir dir;
  WriteFile(dir / "f", std::string(5000, 'a') + "\r\nb\r\n\x1a");
  MyFileStream s(nullptr, false, 0, nullptr, nullptr, 0);
  ASSERT_EQ(s.Open((dir / "f").c_str(), GENERIC_READ, 0, 0), 0);
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(s.ReadLine(buf, 8), 7u);
  EXPECT_EQ(buf[7], 0);
  EXPECT_EQ(buf[8], '#');
  std::string rest = ReadAllLines(s, 8);
  EXPECT_EQ(rest, std::string(4993, 'a') + "\nb\n");  // CR LF as LF, the final Ctrl-Z dropped
  EXPECT_EQ(s.position, 5006u);
}

TEST(FileStream, CtrlZIsDroppedOnlyAtTheEnd) {
  TempDir dir;
  WriteFile(dir / "z", "ab\x1a" "cd\x1a");
  MyFileStream s(nullptr, false, 0, nullptr, nullptr, 0);
  ASSERT_EQ(s.Open((dir / "z").c_str(), GENERIC_READ, 0, 0), 0);
  char buf[4];
  EXPECT_EQ(s.ReadLine(buf, 4), 3u);
  EXPECT_STREQ(buf, "ab\x1a");
  EXPECT_EQ(s.ReadLine(buf, 4), 2u);
  EXPECT_STREQ(buf, "cd");
}

TEST(FileStream, EmptyFileAndTextModeWriting) {
  TempDir dir;
  WriteFile(dir / "empty", "");
  MyFileStream e(nullptr, false, 0, nullptr, nullptr, 0);
  ASSERT_EQ(e.Open((dir / "empty").c_str(), GENERIC_READ, 1, 0), 0);
  char buf[8];
  EXPECT_EQ(e.ReadLine(buf, 8), 0u);

  {
    MyFileStream w(nullptr, false, 0, nullptr, nullptr, 0);
    ASSERT_EQ(w.Open((dir / "t").c_str(), GENERIC_WRITE, 0, 1), 0);
    EXPECT_EQ(w.Write("a\nb\n", 4), 0);
    EXPECT_EQ(w.position, 6u);
    // More than the smallest buffer, so the buffer is written out on the way.
    for (int i = 0; i < 3000; ++i) w.PutByte('z');
    EXPECT_EQ(w.Flush(), 0);
  }
  EXPECT_EQ(ReadFile(dir / "t"), "a\r\nb\r\n" + std::string(3000, 'z'));
}

TEST(FileStream, ReadFailureIsReportedByTheCopy) {
  // Opens, but reading at its start fails (nothing is mapped at address 0).
  MyFileStream in(nullptr, false, 0, nullptr, nullptr, 0);
  ASSERT_EQ(in.Open("/proc/self/mem", GENERIC_READ, 1, 0), 0);
  char room[16];
  MyStringStream out(room, sizeof room, nullptr, nullptr, 0);
  EXPECT_EQ(CopyStream(&in, &out), 5);
  EXPECT_EQ(out.position, 0u);
}

TEST(FileStream, WriteToFullDeviceFails) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  MyFileStream w(nullptr, true, 0, nullptr, nullptr, 0);
  ASSERT_EQ(w.Open("/dev/full", GENERIC_WRITE, 1, 1024), 0);
  w.Write(std::string(2000, 'x').c_str(), 2000);
  EXPECT_EQ(w.Flush(), 6);
}
