#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "corv/core/Alloc.h"
#include "corv/core/TextUtil.h"

using corv::test::AllocFailureScope;

namespace {
std::string Str(const DynStr& s) { return std::string(s.Text(), s.Length()); }

std::string UrlEncoded(const std::string& in) {
  DynStr s;
  EXPECT_EQ(s.AppendURLEncoded(in.c_str()), 0);
  return Str(s);
}

std::string Base64(const std::string& in) {
  DynStr s;
  EXPECT_EQ(s.AppendBase64(in.data(), static_cast<std::uint32_t>(in.size())), 0);
  return Str(s);
}

std::string Decoded(const std::string& in) {
  DynStr s;
  EXPECT_EQ(s.Set(static_cast<std::uint32_t>(in.size()), in.data()), 0);
  EXPECT_EQ(s.DecodeBase64(), 0);
  EXPECT_EQ(s.Text()[s.Length()], '\0');
  return Str(s);
}
}  // namespace

TEST(UrlEncoding, EveryByte) {
  const std::string safe = "*-.0123456789@ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
  std::string all, expected;
  for (int b = 1; b < 256; ++b) {
    all += static_cast<char>(b);
    if (safe.find(static_cast<char>(b)) != std::string::npos) {
      expected += static_cast<char>(b);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", b);
      expected += hex;
    }
  }
  EXPECT_EQ(UrlEncoded(all), expected);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(IsURLSafe(static_cast<unsigned char>(b)), b != 0 && safe.find(static_cast<char>(b)) != std::string::npos) << b;
  // Byte 0 ends the text.
  EXPECT_EQ(UrlEncoded(std::string("a\0b", 3)), "a");
}

TEST(UrlEncoding, FormValues) {
  EXPECT_EQ(UrlEncoded("A b&c=d/\xE9"), "A%20b%26c%3Dd%2F%E9");
  EXPECT_EQ(UrlEncoded("*-.@_~+"), "*-.@_%7E%2B");
  DynStr s;
  ASSERT_EQ(s.SetText("s="), 0);
  ASSERT_EQ(s.AppendURLEncoded("IBM MSFT"), 0);
  EXPECT_EQ(Str(s), "s=IBM%20MSFT");
  ASSERT_EQ(s.AppendURLEncoded(""), 0);
  ASSERT_EQ(s.AppendURLEncoded(nullptr), 0);
  EXPECT_EQ(Str(s), "s=IBM%20MSFT");
}

TEST(UrlEncoding, OwnTextAndFailure) {
  DynStr s;
  ASSERT_EQ(s.SetText(std::string(120, ' ').c_str()), 0);
  ASSERT_EQ(s.AppendURLEncoded(s.Text()), 0);  // the heap buffer moves while growing
  std::string expected(120, ' ');
  for (int i = 0; i < 120; ++i) expected += "%20";
  EXPECT_EQ(Str(s), expected);

  DynStr t;
  ASSERT_EQ(t.SetText("x"), 0);
  {
    AllocFailureScope fail(0, 1);
    EXPECT_EQ(t.AppendURLEncoded(std::string(200, '&').c_str()), 200);
  }
  EXPECT_EQ(Str(t), "x");
}

TEST(Base64, EncodesGroupsAndPadding) {
  EXPECT_EQ(Base64("abc"), "YWJj");
  EXPECT_EQ(Base64("ab"), "YWI=");
  EXPECT_EQ(Base64("a"), "YQ==");
  EXPECT_EQ(Base64(""), "");
  EXPECT_EQ(Base64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64("\xff\xfe\xfd"), "//79");
  EXPECT_EQ(Base64(std::string("\0\0\0\0", 4)), "AAAAAA==");
}

TEST(Base64, BreaksLinesEverySixtyInputBytes) {
  const std::string in(121, 'M');
  const std::string out60 = Base64(in.substr(0, 60));
  EXPECT_EQ(out60.size(), 80u);
  EXPECT_EQ(out60.find('\r'), std::string::npos);

  const std::string out61 = Base64(in.substr(0, 61));
  ASSERT_EQ(out61.size(), 86u);
  EXPECT_EQ(out61.substr(0, 80), out60);
  EXPECT_EQ(out61.substr(80, 2), "\r\n");
  EXPECT_EQ(out61.substr(82), "TQ==");

  const std::string out120 = Base64(in.substr(0, 120));
  EXPECT_EQ(out120, out60 + "\r\n" + out60);
  EXPECT_EQ(Base64(in), out60 + "\r\n" + out60 + "\r\nTQ==");
  std::string tu1n;
  for (int i = 0; i < 20; ++i) tu1n += "TU1N";
  EXPECT_EQ(out60, tu1n);
}

TEST(Base64, RoundTripsEveryByteAndAppendsBehindText) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string enc = Base64(all + all);
  EXPECT_EQ(Decoded(enc), all + all);

  DynStr s;
  ASSERT_EQ(s.SetText("prefix:"), 0);
  ASSERT_EQ(s.AppendBase64("abc", 3), 0);
  EXPECT_EQ(Str(s), "prefix:YWJj");

  // Encoding the string's own text while it moves to a larger buffer.
  DynStr t;
  ASSERT_EQ(t.Set(200, (all + all).data()), 0);
  ASSERT_EQ(t.AppendBase64(t.Text(), 200), 0);
  EXPECT_EQ(Str(t), (all + all).substr(0, 200) + Base64((all + all).substr(0, 200)));

  DynStr u;
  ASSERT_EQ(u.SetText("keep"), 0);
  {
    AllocFailureScope fail(0, 1);
    EXPECT_EQ(u.AppendBase64(all.data(), 256), 200);
  }
  EXPECT_EQ(Str(u), "keep");
}

TEST(Base64, DecoderToleratesBreaksJunkAndMissingPadding) {
  EXPECT_EQ(Decoded("YWJj"), "abc");
  EXPECT_EQ(Decoded("YW\r\nJj"), "abc");
  EXPECT_EQ(Decoded(" Y W\tJ j \r\n"), "abc");
  EXPECT_EQ(Decoded("YQ=="), "a");
  EXPECT_EQ(Decoded("YQ"), "a");
  EXPECT_EQ(Decoded("YWI"), "ab");
  EXPECT_EQ(Decoded("YWI="), "ab");
  EXPECT_EQ(Decoded("Y="), std::string(1, '\x60'));  // the incomplete byte is kept
  EXPECT_EQ(Decoded("YWJj=ZGVm"), "abc");             // "=" ends decoding
  EXPECT_EQ(Decoded("YWJjY="), "abc\x60");            // one character after a full group
  EXPECT_EQ(Decoded("YWJjYW="), "abca");              // two: no partial byte added
  EXPECT_EQ(Decoded("!!!"), "");
  EXPECT_EQ(Decoded(""), "");
  EXPECT_EQ(Decoded(std::string("YW\0Jj", 5)), std::string(1, 'a'));  // stops at a zero byte
  EXPECT_EQ(Decoded("\x80\xffYWJj\xc3"), "abc");                    // 8-bit bytes skipped
  // A long heap text shrinks back into the inline buffer.
  const std::string body(300, 'x');
  DynStr s;
  const std::string enc = Base64(body);
  ASSERT_EQ(s.Set(static_cast<std::uint32_t>(enc.size()), enc.data()), 0);
  ASSERT_EQ(s.DecodeBase64(), 0);
  EXPECT_EQ(Str(s), body);
}

TEST(ParseInt, SignDigitsAndWrap) {
  EXPECT_EQ(ParseInt("-80x"), -80);
  EXPECT_EQ(ParseInt("8080"), 8080);
  EXPECT_EQ(ParseInt(""), 0);
  EXPECT_EQ(ParseInt("+5"), 0);
  EXPECT_EQ(ParseInt("-"), 0);
  EXPECT_EQ(ParseInt("--5"), 0);
  EXPECT_EQ(ParseInt(" 5"), 0);
  EXPECT_EQ(ParseInt("007"), 7);
  EXPECT_EQ(ParseInt(nullptr), 0);
  EXPECT_EQ(ParseInt("12\xb3"), 12);  // a high byte is no digit
  EXPECT_EQ(ParseInt("2147483647"), 2147483647);
  EXPECT_EQ(ParseInt("2147483648"), INT32_MIN);
  EXPECT_EQ(ParseInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseInt("4294967295"), -1);
  EXPECT_EQ(ParseInt("4294967296"), 0);
  EXPECT_EQ(ParseInt("4294967297"), 1);
  EXPECT_EQ(ParseInt("99999999999"), 1215752191);
  EXPECT_EQ(ParseInt("-4294967297"), -1);
}

TEST(SplitAt, CutsAtTheFirstOccurrence) {
  char a[] = "host:80:x";
  char* rest = SplitAt(a, ':');
  EXPECT_STREQ(a, "host");
  EXPECT_STREQ(rest, "80:x");

  char b[] = "no-colon";
  rest = SplitAt(b, ':');
  EXPECT_STREQ(b, "no-colon");
  EXPECT_EQ(rest, b + 8);
  EXPECT_STREQ(rest, "");

  char c[] = "ab";
  rest = SplitAt(c, '\0');  // the terminator is not a separator
  EXPECT_EQ(rest, c + 2);
  EXPECT_STREQ(c, "ab");
  EXPECT_EQ(SplitAt(nullptr, ':'), nullptr);
}

TEST(SplitHeaderLine, NameAndValue) {
  const struct {
    std::string line, name, value;
  } cases[] = {
      {"Content-Type: text/html", "Content-Type", "text/html"},
      {"X:y", "X", "y"},
      {"A:  b", "A", " b"},   // one blank skipped
      {"A:\tb", "A", "\tb"},  // tabs are kept
      {"A:", "A", ""},
      {"NoColon", "NoColon", ""},
      {"\tcontinued line", "", "continued line"},
      {" folded", "", "folded"},
      {"\x80rest", "", "rest"},   // an 8-bit first byte counts as a continuation
      {"\x01rest", "", "rest"},
      {"\xffrest", "", "rest"},
      {"\x7frest: v", "\x7frest", "v"},  // DEL is above the blank as a signed byte
      {"A: b: c", "A", "b: c"},          // only the first colon splits
  };
  for (const auto& c : cases) {
    DynStr s;
    ASSERT_EQ(s.SetText(c.line.c_str()), 0);
    const char* value = s.SplitHeaderLine();
    ASSERT_NE(value, nullptr) << c.line;
    EXPECT_EQ(std::string(s.Text()), c.name) << c.line;
    EXPECT_EQ(std::string(value), c.value) << c.line;
  }
  DynStr empty;
  EXPECT_EQ(empty.SplitHeaderLine(), nullptr);
}
