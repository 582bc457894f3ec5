#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "platform/win32/misc.h"

namespace {

std::string Format(const char* fmt, auto... args) {
  char buf[1100];
  const int n = wsprintfA(buf, fmt, args...);
  EXPECT_EQ(n, static_cast<int>(std::string(buf).size()));
  return buf;
}

TEST(Wsprintf, Conversions) {
  EXPECT_EQ(Format("%d|%i|%u", -42, 7, 4000000000u), "-42|7|4000000000");
  EXPECT_EQ(Format("%x|%X|%lx", 0xbeefu, 0xbeefu, 0xFFFFFFFFu), "beef|BEEF|ffffffff");
  EXPECT_EQ(Format("%ld|%lu", static_cast<LONG>(-2147483647 - 1), static_cast<DWORD>(4294967295u)),
            "-2147483648|4294967295");
  EXPECT_EQ(Format("%hd|%hu", 70000, 70000), "4464|4464");
  EXPECT_EQ(Format("%c%c|%s|%s", 'o', 'k', "text", static_cast<const char*>(nullptr)), "ok|text|(null)");
  EXPECT_EQ(Format("100%%"), "100%");
}

TEST(Wsprintf, WidthFlagsAndPrecision) {
  EXPECT_EQ(Format("[%5d][%-5d][%05d]", 42, 42, 42), "[   42][42   ][00042]");
  EXPECT_EQ(Format("[%05d][%-6d]", -42, -42), "[-0042][-42   ]");
  EXPECT_EQ(Format("[%08lX]", 0xABCu), "[00000ABC]");
  EXPECT_EQ(Format("[%6s][%-6s]", "ab", "ab"), "[    ab][ab    ]");
  EXPECT_EQ(Format("[%.2s][%.3d]", "abcdef", 7), "[ab][007]");
  EXPECT_EQ(Format("[%2d]", 12345), "[12345]");
}

TEST(Wsprintf, UnknownConversionsAreCopiedAndAFinalPercentIsKept) {
  EXPECT_EQ(Format("%q %y", 1), "%q %y");
  EXPECT_EQ(Format("end%"), "end%");
}

TEST(Wsprintf, NeverWritesMoreThan1024Bytes) {
  char buf[2048];
  std::memset(buf, '#', sizeof buf);
  const std::string longText(3000, 'a');
  const int n = wsprintfA(buf, "%s%s", longText.c_str(), "tail");
  EXPECT_EQ(n, 1023);
  EXPECT_EQ(buf[1023], '\0');
  EXPECT_EQ(buf[1024], '#');
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(wsprintfA(buf, "%2000d", 5), 1023);
  EXPECT_EQ(buf[1024], '#');
}

TEST(TickCount, AdvancesAndWrapsWithTheOffset) {
  win32::test::SetTickOffset(0);
  const DWORD a = GetTickCount();
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
  while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
  const DWORD b = GetTickCount();
  EXPECT_GE(b - a, 19u);
  EXPECT_LT(b - a, 5000u);

  // Put the count just before its wrap: it goes on through zero, and unsigned differences hold.
  win32::test::SetTickOffset(0);
  win32::test::SetTickOffset(0xFFFFFFFFu - GetTickCount() - 50);
  const DWORD before = GetTickCount();
  EXPECT_GT(before, 0xFFFFF000u);
  DWORD after = before;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (after >= before && std::chrono::steady_clock::now() < giveUp) after = GetTickCount();
  EXPECT_LT(after, 1000u);
  EXPECT_LT(after - before, 1000u);
  win32::test::SetTickOffset(0);
}

TEST(SystemTime, IsUtc) {
  SYSTEMTIME st{};
  const std::time_t now = std::time(nullptr);
  GetSystemTime(&st);
  std::tm utc{};
  gmtime_r(&now, &utc);
  EXPECT_EQ(st.wYear, utc.tm_year + 1900);
  EXPECT_EQ(st.wMonth, utc.tm_mon + 1);
  EXPECT_EQ(st.wDayOfWeek, utc.tm_wday);
  EXPECT_LT(st.wMilliseconds, 1000);
  EXPECT_LE(st.wHour, 23);
}

TEST(CodePage, ShiftJisLocaleGives932) {
  const char* saved[3];
  const char* names[3] = {"LC_ALL", "LC_CTYPE", "LANG"};
  std::string keep[3];
  for (int i = 0; i < 3; ++i) {
    saved[i] = std::getenv(names[i]);
    if (saved[i]) keep[i] = saved[i];
    unsetenv(names[i]);
  }
  setenv("LANG", "ja_JP.SJIS", 1);
  EXPECT_EQ(GetACP(), 932u);
  setenv("LANG", "ja_JP.Shift_JIS", 1);
  EXPECT_EQ(GetACP(), 932u);
  setenv("LANG", "ja_JP.UTF-8", 1);
  EXPECT_EQ(GetACP(), 1252u);
  // LC_ALL wins over LANG.
  setenv("LC_ALL", "ja_JP.sjis", 1);
  EXPECT_EQ(GetACP(), 932u);
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(GetACP(), 1252u);
  unsetenv("LC_ALL");
  unsetenv("LANG");
  EXPECT_EQ(GetACP(), 1252u);
  for (int i = 0; i < 3; ++i)
    if (saved[i]) setenv(names[i], keep[i].c_str(), 1);
}

TEST(LastError, IsPerThread) {
  SetLastError(11);
  DWORD other = 99;
  std::thread([&] {
    other = GetLastError();
    SetLastError(22);
  }).join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(GetLastError(), 11u);
}

}  // namespace
