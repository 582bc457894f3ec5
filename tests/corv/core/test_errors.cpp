#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "corv/core/Core.h"
#include "corv/core/Errors.h"
#include "platform/win32/misc.h"

namespace {
std::string Format(int code, int* found = nullptr) {
  char buf[CORV_ERROR_TEXT_SIZE];
  std::memset(buf, 'X', sizeof buf);
  const int r = FormatWinsockError(code, buf, sizeof buf);
  if (found) *found = r;
  return buf;
}
}  // namespace

TEST(WinsockErrors, KnownAndUnknownCodes) {
  int r = -1;
  EXPECT_EQ(Format(10061, &r), "[10061] Connection refused");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(Format(10066, &r), "[10066] Directory not empt");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(Format(11004), "[11004] Valid name, no data record (check DNS setup)");
  EXPECT_EQ(Format(10004), "[10004] Interrupted system call");
  EXPECT_EQ(Format(12345, &r), "[12345] (no description available)");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(Format(0, &r), "[0] (no description available)");  // the table's end mark
  EXPECT_EQ(r, 1);
  EXPECT_EQ(Format(301, &r), "[301] (no description available)");
  EXPECT_EQ(r, 1);
}

TEST(WinsockErrors, CodesCountSixteenBits) {
  int r = -1;
  EXPECT_EQ(Format(10061 + 65536, &r), "[10061] Connection refused");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(Format(-1, &r), "[65535] (no description available)");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(Format(12345 - 65536), "[12345] (no description available)");
}

TEST(WinsockErrors, TableAndBuffer) {
  int rows = 0;
  unsigned previous = 0;
  for (const WinsockErrorEntry* e = WinsockErrorTable; e->code != 0; ++e, ++rows) {
    EXPECT_GT(e->code, previous);  // search order is ascending
    previous = e->code;
    // Every text fits the engine's 84-byte buffer whole.
    char buf[CORV_ERROR_TEXT_SIZE];
    FormatWinsockError(e->code, buf, sizeof buf);
    EXPECT_EQ(std::string(buf), "[" + std::to_string(e->code) + "] " + e->text);
  }
  EXPECT_EQ(rows, 50);
  // A short buffer is cut, never overrun.
  char small[8];
  std::memset(small, 'X', sizeof small);
  EXPECT_EQ(FormatWinsockError(10061, small, sizeof small), 0);
  EXPECT_STREQ(small, "[10061]");
}

TEST(CCore, StartsBlankAndInitialises) {
  CCore core;
  EXPECT_STREQ(core.GetErrorText(), "");
  EXPECT_FALSE(core.HasErrorText());
  EXPECT_EQ(core.Window, nullptr);
  EXPECT_EQ(core.EventSink, nullptr);
  core.SetFixedErrorText("Timeout.");
  EXPECT_EQ(core.Init(), 1);
  EXPECT_FALSE(core.HasErrorText());
  EXPECT_EQ(core.CharsetMode, GetACP() == 932 ? 1 : 0);
  EXPECT_EQ(core.HandleMessage(1125, 3, 4), 0);
  core.AfterAction();
}

TEST(CCore, SetErrorText) {
  CCore core;
  core.Init();
  EXPECT_EQ(core.SetErrorText(0), 0);
  EXPECT_FALSE(core.HasErrorText());

  EXPECT_EQ(core.SetErrorText(10061), 10061);
  EXPECT_STREQ(core.GetErrorText(), "[10061] Connection refused");
  EXPECT_EQ(core.ErrorText, core.ErrorBuffer);
  // A text already set is kept for an ordinary code...
  EXPECT_EQ(core.SetErrorText(10060), 10060);
  EXPECT_STREQ(core.GetErrorText(), "[10061] Connection refused");
  // ...but 301 and 200 always set their own.
  EXPECT_EQ(core.SetErrorText(301), 301);
  EXPECT_STREQ(core.GetErrorText(), "Interrupted.");
  EXPECT_EQ(core.SetErrorText(200), 200);
  EXPECT_STREQ(core.GetErrorText(), "Out of memory.");
  EXPECT_EQ(core.SetErrorText(0), 0);
  EXPECT_STREQ(core.GetErrorText(), "Out of memory.");

  core.ClearErrorText();
  EXPECT_EQ(core.SetErrorText(12345), 12345);
  EXPECT_STREQ(core.GetErrorText(), "[12345] (no description available)");

  // A wait that timed out keeps its text.
  core.SetFixedErrorText("Timeout.");
  EXPECT_EQ(core.SetErrorText(10054), 10054);
  EXPECT_STREQ(core.GetErrorText(), "Timeout.");
}
