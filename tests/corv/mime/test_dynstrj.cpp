#include <string>
#include <vector>

#include "corv/mime/DynStrJ.h"
#include "tests/corv/mime/helpers.h"

using namespace mimetest;

namespace {
std::string ToJIS(const std::string& sjis) {
  DynStrJ s;
  EXPECT_EQ(s.ShiftJISToJIS(sjis.data(), uint32_t(sjis.size())), 0);
  return std::string(s.Text(), s.Length());
}

std::string ToSJIS(const std::string& jis) {
  DynStrJ s;
  EXPECT_EQ(s.JISToShiftJIS(jis.data(), uint32_t(jis.size())), 0);
  return std::string(s.Text(), s.Length());
}

std::string Decoded(const std::string& text) {
  DynStrJ s;
  EXPECT_EQ(s.SetDecoded(text.c_str()), 0);
  return std::string(s.Text(), s.Length());
}

// Every double-byte character that glibc's Shift-JIS knows, 32 to a CR LF line.
std::string AllDoubleByteCharacters() {
  std::string candidates;
  for (int lead = 0x81; lead <= 0xEF; ++lead) {
    if (lead > 0x9F && lead < 0xE0) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      candidates += char(lead);
      candidates += char(trail);
      candidates += '\n';
    }
  }
  std::string known = Filter("iconv -c -f SHIFT_JIS -t SHIFT_JIS 2>/dev/null", candidates);
  std::string text;
  int n = 0;
  for (size_t at = 0, nl; (nl = known.find('\n', at)) != std::string::npos; at = nl + 1) {
    if (nl - at != 2) continue;
    text += known.substr(at, 2);
    if (++n % 32 == 0) text += "\r\n";
  }
  EXPECT_GT(n, 6800);
  return text;
}
}  // namespace

TEST(ShiftJIS, PairsAndEscapes) {
  EXPECT_EQ(ToJIS("plain text\r\n"), "plain text\r\n");
  EXPECT_EQ(ToJIS("\x82\xA0\r"), "\x1b$B$\"\x1b(B\r");
  EXPECT_EQ(ToJIS("\x82\xA0" "a\x88\x9F"), "\x1b$B$\"\x1b(Ba\x1b$B0!\x1b(B");
  EXPECT_EQ(ToJIS("\xB6\xDE"), "\x1b$B%,\x1b(B");  // widened and merged: 0x83 0x4B
  EXPECT_EQ(ToJIS("\xB3\xDE\xCA\xDF\xDE"), "\x1b$B%t%Q!+\x1b(B");
  EXPECT_EQ(ToJIS("a\x82"), "a");  // a lead byte without its partner is dropped
  unsigned char a, b;
  WidenKana(0xB6, 0xDE, &a, &b);
  EXPECT_EQ(a, 0x83);
  EXPECT_EQ(b, 0x4B);
  EXPECT_FALSE(WidenKana(0xDC, 0xDE, &a, &b));  // wa has no voiced form here

  EXPECT_EQ(ToSJIS("\x1b$B$\"0!\x1b(Bx"), "\x82\xA0\x88\x9Fx");
  // Escapes and half characters at the very end stop the conversion, nothing more.
  EXPECT_EQ(ToSJIS("ab\x1b"), "ab");
  EXPECT_EQ(ToSJIS("ab\x1b$"), "ab");
  EXPECT_EQ(ToSJIS("\x1b$B$"), "");
  EXPECT_EQ(ToSJIS("\x1b$B$\"\nz"), "\x82\xA0\nz");
  EXPECT_EQ(HexPairValue('e', 'F'), 0xEF);
  EXPECT_EQ(HexPairValue('g', '0'), -1);
}

TEST(ShiftJISInterop, WholeJISX0208RangeAgreesWithIconvAndPython) {
  std::string sjis = AllDoubleByteCharacters();
  std::string ours = ToJIS(sjis);
  std::string iconv = Filter("iconv -f SHIFT_JIS -t ISO-2022-JP", sjis);
  EXPECT_TRUE(ours == iconv) << ours.size() << " vs " << iconv.size();
  EXPECT_TRUE(ToSJIS(iconv) == sjis);
  EXPECT_TRUE(Filter("iconv -f ISO-2022-JP -t SHIFT_JIS", ours) == sjis);

  // Python's codec maps a few characters (the yen sign, the overline) to ASCII: leave those out.
  std::string py;
  for (size_t i = 0; i + 1 < sjis.size(); i += 2) {
    if (sjis[i] == '\r') continue;
    if ((sjis[i] == '\x81' && (sjis[i + 1] == '\x5F' || sjis[i + 1] == '\x50' ||
                               sjis[i + 1] == '\x8F' || sjis[i + 1] == '\x60')))
      continue;
    py += sjis.substr(i, 2);
  }
  EXPECT_TRUE(ToJIS(py) == Check("sjis2jis", py));
  EXPECT_TRUE(ToSJIS(Check("sjis2jis", py)) == py);
}

TEST(ShiftJISInterop, HalfWidthKanaBecomeFullWidth) {
  std::string kana, spaced;
  for (int c = 0xA1; c <= 0xDF; ++c) {
    kana += char(c);
    // glibc widens kana one by one and knows no spacing sound marks.
    if (c >= 0xDE) continue;
    spaced += char(c);
    spaced += 'a';
  }
  kana += "\xB6\xDE\xC4\xDE\xCA\xDF\xCE\xDF\xB3\xDE\xB1\xDE";
  EXPECT_TRUE(ToJIS(kana) == Check("sjis2jis", kana));
  EXPECT_TRUE(ToJIS(spaced) == Filter("iconv -f SHIFT_JIS -t ISO-2022-JP//TRANSLIT", spaced));
}

TEST(EncodedWords, HeaderParameters) {
  DynStrJ plain;
  ASSERT_EQ(plain.EncodeHeader("name", "caf\xE9.txt", 8, 0), 0);
  EXPECT_STREQ(plain.Text(), " name=\"caf\xE9.txt\"");
  DynStrJ injected;
  ASSERT_EQ(injected.EncodeHeader("filename", "a\r\nBcc: x\n", 10, 0), 0);
  EXPECT_STREQ(injected.Text(), " filename=\"aBcc: x\"");
  DynStrJ ascii;
  ASSERT_EQ(ascii.EncodeHeader("filename", "a.txt", 5, 1), 0);
  EXPECT_STREQ(ascii.Text(), " filename=\"a.txt\"");

  for (int chars : {40, 60}) {
    std::string value;
    for (int i = 0; i < chars; ++i) value += "\x88\x9F";
    DynStrJ h;
    ASSERT_EQ(h.EncodeHeader("name", value.data(), uint32_t(value.size()), 1), 0);
    std::string text(h.Text(), h.Length());
    ASSERT_EQ(text.rfind("\r\n\tname=\"", 0), 0u);
    ASSERT_EQ(text.back(), '"');
    std::vector<size_t> sizes;
    std::string words = text.substr(9, text.size() - 10);
    std::string joined;
    for (size_t at = 0;;) {
      size_t end = words.find("\r\n\t", at);
      std::string w = words.substr(at, end == std::string::npos ? end : end - at);
      std::string piece = Decoded(w);
      sizes.push_back(piece.size());
      joined += piece;
      if (end == std::string::npos) break;
      at = end + 3;
    }
    EXPECT_EQ(joined, value);
    EXPECT_EQ(sizes, chars == 40 ? (std::vector<size_t>{36, 44}) : (std::vector<size_t>{36, 52, 32}));
    // Python reads the words back to the same text.
    std::string unfolded;
    for (char c : words)
      if (c != '\r' && c != '\n' && c != '\t') unfolded += c;
    EXPECT_EQ(Check("header", unfolded), value);
  }
}

TEST(EncodedWords, LongWordStaysOnOneLine) {
  std::string value;
  for (int i = 0; i < 100; ++i) value += "\x82\xA0";
  DynStrJ w;
  ASSERT_EQ(w.EncodeWordB(value.c_str()), 0);
  std::string word(w.Text(), w.Length());
  EXPECT_EQ(word.find('\n'), std::string::npos);
  EXPECT_EQ(word.rfind("=?ISO-2022-JP?B?", 0), 0u);
  EXPECT_EQ(Check("header", word), value);
  EXPECT_EQ(Decoded(word), value);
}

TEST(EncodedWords, PythonWrittenWordsDecode) {
  for (std::string text : {std::string("\x93\xfa\x96\x7b\x8c\xea"), std::string("a \x83\x74\x83\x40 b.txt"),
                           std::string("\x82\xa0\x82\xa2\x82\xa4")}) {
    std::string words = Check("hdrenc", text);
    EXPECT_NE(words.find("=?iso-2022-jp?b?"), std::string::npos) << words;
    EXPECT_EQ(Decoded(words), text) << words;
  }
}

TEST(EncodedWords, Decoding) {
  EXPECT_EQ(Decoded("x =?iso-2022-jp?b?GyRCJCIbKEI=?= y"), "x \x82\xA0 y");
  EXPECT_EQ(Decoded("=?ISO-2022-JP?Q?=1B$B$\"=1B(B_a?="), "\x82\xA0 a");
  EXPECT_EQ(Decoded("=?ISO-8859-1?Q?caf=E9?="), "=?ISO-8859-1?Q?caf=E9?=");
  EXPECT_EQ(Decoded("a=?ISO-2022-JP?X?zz?=b"), "ab");  // unknown letter: dropped
  EXPECT_EQ(Decoded("=?ISO-2022-JP?B?GyRC"), "=?ISO-2022-JP?B?GyRC");  // no end: left alone
  // "=" at the very end of a Q word, or before one last character.
  EXPECT_EQ(Decoded("=?ISO-2022-JP?Q?ab=?="), "ab=");
  EXPECT_EQ(Decoded("=?ISO-2022-JP?Q?ab=4?="), "ab=4");
  EXPECT_EQ(Decoded("=?ISO-2022-JP?Q?=zz?="), "=zz");
  EXPECT_EQ(Decoded("tail ="), "tail =");
  // Blanks and line breaks between two encoded words only separate them.
  const std::string a = "=?ISO-2022-JP?B?GyRCJCIbKEI=?=";
  EXPECT_EQ(Decoded(a + " " + a + "\r\n\t" + a), "\x82\xA0\x82\xA0\x82\xA0");
  EXPECT_EQ(Decoded(a + " x " + a), "\x82\xA0 x \x82\xA0");
  EXPECT_EQ(Decoded(a + " =?ISO-8859-1?Q?e?="), "\x82\xA0 =?ISO-8859-1?Q?e?=");
  EXPECT_TRUE(DynStrJ::Has8Bit("a\x80", 2));
  EXPECT_FALSE(DynStrJ::Has8Bit("a\x7f", 2));
}
