// Header values as the mail builder stores them: folding, and encoded words in Japanese mode.
#include <gtest/gtest.h>

#include <string>

#include "corv/mime/DynStrJ.h"

namespace {

template <class S>
std::string Str(const S& s) {
  return std::string(s.Text(), s.Length());
}

TEST(HeaderFolding, FoldsAtTheFirstBlankOrCommaAfterTheBudget) {
  DynStrRFC822 s;
  ASSERT_EQ(0, s.SetFolded("aaaa bbbb cccc", 6));
  // Five characters fill the line; the blank after them folds and is dropped.
  EXPECT_EQ("aaaa bbbb\r\n\tcccc", Str(s));
  ASSERT_EQ(0, s.SetFolded("a@x.org, b@y.org, c@z.org", 10));
  EXPECT_EQ("a@x.org, b@y.org,\r\n\t c@z.org", Str(s));
  // No fold point: one long line, and no fold after the last character.
  std::string letters(100, 'q');
  ASSERT_EQ(0, s.SetFolded(letters.c_str(), 72));
  EXPECT_EQ(letters, Str(s));
  ASSERT_EQ(0, s.SetFolded("abcdef ", 3));
  EXPECT_EQ("abcdef", Str(s));
}

TEST(HeaderFolding, LineBreaksInAValueNeverStartAHeaderLine) {
  DynStrRFC822 s;
  ASSERT_EQ(0, s.SetFolded("hi\r\nBcc: evil@x.org", 72));
  EXPECT_EQ("hi  Bcc: evil@x.org", Str(s));
  // Unfolded values keep a caller's own continuation lines, nothing else.
  ASSERT_EQ(0, s.SetFolded("one\r\n\ttwo\r\nX-Evil: 1\nz\r", 0));
  EXPECT_EQ("one\r\n\ttwo  X-Evil: 1 z ", Str(s));
  ASSERT_EQ(0, s.SetFolded(nullptr, 72));
  EXPECT_EQ("", Str(s));
}

// "Nihongo" in Shift-JIS.
const std::string kJapanese = "\x93\xfa\x96\x7b\x8c\xea";

TEST(HeaderEncodedWords, AddressListsEncodeOnlyJapaneseNames) {
  DynStrJRFC822 s;
  const std::string list = "\"" + kJapanese + "\" <a@x.org>, \"Plain Name\" <b@y.org>";
  ASSERT_EQ(0, s.SetAddressList(list.c_str(), 72, 1));
  EXPECT_EQ("=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?= <a@x.org>, \"Plain Name\" <b@y.org>", Str(s));
  // A bare run outside quotes, and an unclosed quote at the end.
  const std::string bare = kJapanese + " <c@z.org>, \"" + kJapanese;
  ASSERT_EQ(0, s.SetAddressList(bare.c_str(), 72, 1));
  EXPECT_EQ("=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?= <c@z.org>, =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=", Str(s));
  // Outside Japanese mode the bytes stay as they are.
  ASSERT_EQ(0, s.SetAddressList(list.c_str(), 72, 0));
  EXPECT_EQ(list, Str(s));
}

TEST(HeaderEncodedWords, SubjectChunksFoldOntoTheirOwnLines) {
  DynStrJRFC822 s;
  ASSERT_EQ(0, s.SetText("Plain subject", 72, 1));
  EXPECT_EQ("Plain subject", Str(s));
  const std::string subject = "Re: " + kJapanese + " ok";
  ASSERT_EQ(0, s.SetText(subject.c_str(), 72, 1));
  EXPECT_EQ("Re: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?= ok", Str(s));
  // A budget of 40 or less: every character a chunk of its own, one per line.
  ASSERT_EQ(0, s.SetText(kJapanese.c_str(), 40, 1));
  EXPECT_EQ("=?ISO-2022-JP?B?GyRCRnwbKEI=?=\r\n\t=?ISO-2022-JP?B?GyRCS1wbKEI=?=\r\n\t=?ISO-2022-JP?B?GyRCOGwbKEI=?=",
            Str(s));
  // Line breaks in a subject become blanks.
  const std::string broken = kJapanese + "\r\nBcc: x";
  ASSERT_EQ(0, s.SetText(broken.c_str(), 72, 1));
  EXPECT_EQ(std::string::npos, Str(s).find('\n'));
}

}  // namespace
