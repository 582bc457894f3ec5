#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/vcl/core/sysutils.h"

TEST(AnsiString, PositionsCountFromOne) {
  AnsiString s("23.45");
  EXPECT_EQ(s.Length(), 5);
  EXPECT_EQ(s[1], '2');
  EXPECT_EQ(s[5], '5');
  EXPECT_THROW(s[0], ERangeError);
  EXPECT_THROW(s[6], ERangeError);
  EXPECT_EQ(s.Pos("."), 3);
  EXPECT_EQ(s.Pos("x"), 0);
  EXPECT_EQ(s.Pos(""), 0);
  EXPECT_EQ(s.SubString(1, 2), "23");
  EXPECT_EQ(s.SubString(4, 99), "45");
  EXPECT_EQ(s.SubString(0, 2), "23");
  EXPECT_EQ(s.SubString(6, 1), "");
  EXPECT_EQ(s.SubString(2, 0), "");
  EXPECT_EQ(s.SubString(2, -1), "");
}

TEST(AnsiString, DeleteAndInsertKeepWithinBounds) {
  // The cuts of a dd.dd price into its integer part and its cents.
  AnsiString a("12.34"), b("12.34");
  EXPECT_EQ(a.Delete(3, 3), "12");
  EXPECT_EQ(b.Delete(1, 3), "34");
  AnsiString c("abc");
  EXPECT_EQ(c.Delete(0, 1), "abc");
  EXPECT_EQ(c.Delete(4, 1), "abc");
  EXPECT_EQ(c.Delete(2, 100), "a");
  EXPECT_EQ(AnsiString("ac").Insert("b", 2), "abc");
  EXPECT_EQ(AnsiString("ab").Insert("c", 99), "abc");
}

TEST(AnsiString, KeepsNulBytesAndCStrNeverNull) {
  AnsiString bin("a\0b\0", 4);
  EXPECT_EQ(bin.Length(), 4);
  EXPECT_EQ(bin.c_str()[4], '\0');
  AnsiString empty;
  ASSERT_NE(empty.c_str(), nullptr);
  EXPECT_STREQ(empty.c_str(), "");
  EXPECT_EQ(AnsiString(static_cast<const char*>(nullptr)), "");
  EXPECT_EQ(AnsiString("xyz", -3), "");
}

TEST(AnsiString, TrimCaseAndConcatenation) {
  EXPECT_EQ(AnsiString(" \t x y \r\n").Trim(), "x y");
  EXPECT_EQ(AnsiString("  x ").TrimLeft(), "x ");
  EXPECT_EQ(AnsiString("qvtr msft").UpperCase(), "QVTR MSFT");
  EXPECT_EQ(AnsiString("\xe9t\xe9").UpperCase(), "\xe9T\xe9");  // only ASCII letters change
  AnsiString s = "a" + AnsiString("b") + 'c' + "d";
  s += 'e';
  EXPECT_EQ(s, "abcde");
  EXPECT_LT(AnsiString("ABC"), AnsiString("abc"));
  EXPECT_EQ(AnsiString("ABC").CompareIC("abc"), 0);
  EXPECT_EQ(AnsiString(-12), "-12");
  EXPECT_EQ(AnsiString(0.5), "0.5");
  EXPECT_EQ(AnsiString(0.1 + 0.2), "0.3");  // 15 significant digits
  EXPECT_EQ(AnsiString(1e20), "1E20");
  EXPECT_EQ(AnsiString(-2.5e-7), "-2.5E-7");
  EXPECT_EQ(AnsiString(123456.0), "123456");
}

TEST(AnsiString, StrictIntegerConversion) {
  EXPECT_EQ(AnsiString("80").ToInt(), 80);
  EXPECT_EQ(AnsiString(" -17").ToInt(), -17);
  EXPECT_EQ(AnsiString("$FF").ToInt(), 255);
  EXPECT_EQ(AnsiString("0x10").ToInt(), 16);
  EXPECT_EQ(AnsiString("2147483647").ToInt(), 2147483647);
  EXPECT_EQ(AnsiString("-2147483648").ToInt(), -2147483647 - 1);
  for (const char* bad : {"", " ", "8o", "12 3", "80 ", "2147483648", "1.5", "$", "-", "+-1"}) {
    try {
      AnsiString(bad).ToInt();
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message, AnsiString("'") + bad + "' is not a valid integer value");
    }
  }
  EXPECT_EQ(AnsiString("x").ToIntDef(7), 7);
  EXPECT_EQ(StrToIntDef("12", 7), 12);
}

TEST(AnsiString, StrictFloatConversion) {
  EXPECT_DOUBLE_EQ(AnsiString("23.45").ToDouble(), 23.45);
  EXPECT_DOUBLE_EQ(AnsiString("-0.12").ToDouble(), -0.12);
  EXPECT_DOUBLE_EQ(AnsiString("1e3").ToDouble(), 1000);
  EXPECT_THROW(AnsiString("N/A").ToDouble(), EConvertError);
  EXPECT_THROW(AnsiString("1,5").ToDouble(), EConvertError);
  EXPECT_THROW(AnsiString("inf").ToDouble(), EConvertError);
  EXPECT_THROW(AnsiString("").ToDouble(), EConvertError);
  // The lenient forms of the C runtime: what is not a number reads as 0.
  EXPECT_DOUBLE_EQ(vcl::CAtof("N/A"), 0);
  EXPECT_DOUBLE_EQ(vcl::CAtof("+0.12\r"), 0.12);
  EXPECT_EQ(vcl::CAtoi("128abc"), 128);
  EXPECT_EQ(vcl::CAtoi("abc"), 0);
}

namespace {
// A locale whose decimal separator is a comma: an installed one, or one compiled from the
// system's locale sources into a temporary folder.
const char* CommaLocale() {
  static std::string found = [] {
    for (const char* l : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
      if (std::setlocale(LC_NUMERIC, l)) {
        std::setlocale(LC_NUMERIC, "C");
        return std::string(l);
      }
    static char dir[] = "/tmp/vcl_locale_XXXXXX";
    if (!mkdtemp(dir)) return std::string();
    std::atexit([] { std::system((std::string("rm -rf ") + dir).c_str()); });
    std::string cmd = std::string("localedef -c -i de_DE -f UTF-8 ") + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 && access((std::string(dir) + "/de_DE.UTF-8").c_str(), F_OK) != 0)
      return std::string();
    setenv("LOCPATH", dir, 1);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) return std::string();
    std::setlocale(LC_NUMERIC, "C");
    return std::string("de_DE.UTF-8");
  }();
  return found.empty() ? nullptr : found.c_str();
}
}  // namespace

// Numbers in the program's texts are read in the "C" locale even when the process runs under
// a locale whose decimal separator is a comma (Qt sets the locale from the environment).
TEST(AnsiString, NumbersIgnoreTheProcessLocale) {
  const char* locale = CommaLocale();
  ASSERT_NE(locale, nullptr) << "no locale with a decimal comma (package locales)";
  ASSERT_NE(std::setlocale(LC_NUMERIC, locale), nullptr);
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  EXPECT_STREQ(probe, "1,5");  // the locale really is active
  EXPECT_DOUBLE_EQ(AnsiString("23.45").ToDouble(), 23.45);
  EXPECT_THROW(AnsiString("23,45").ToDouble(), EConvertError);
  EXPECT_DOUBLE_EQ(vcl::CAtof("0.12"), 0.12);
  EXPECT_EQ(AnsiString().sprintf("%.2f|%d", 2.5, 3), "2.50|3");
  EXPECT_EQ(AnsiString(0.25), "0.25");
  std::setlocale(LC_NUMERIC, "C");
}

TEST(AnsiString, Sprintf) {
  AnsiString s;
  s.sprintf("[%d] %s", 10061, "Connection refused");
  EXPECT_EQ(s, "[10061] Connection refused");
  s.cat_sprintf("%c%05.1f", '!', 3.14159);
  EXPECT_EQ(s, "[10061] Connection refused!003.1");
  std::string longText(1000, 'x');
  EXPECT_EQ(AnsiString::Format("%s.", longText.c_str()).Length(), 1001);
}

TEST(Exceptions, CarryTheirMessage) {
  try {
    throw EOutOfMemory("Error initializing TcorvWebForm");
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Error initializing TcorvWebForm");
    EXPECT_STREQ(e.what(), "Error initializing TcorvWebForm");
  }
  EXPECT_THROW(Abort(), EAbort);
}
