// Japanese text for MIME headers: Shift-JIS in memory, ISO-2022-JP on the wire, and RFC 2047
// encoded words. Every append returns 0, or 200 when the string cannot grow (what was
// appended so far stays).
#pragma once
#include <cstdint>

#include "corv/core/DynStr.h"

// A mail header value kept in the form in which it is sent: folded onto continuation lines
// ("\r\n\t") once a line holds `budget` characters.
class DynStrRFC822 : public DynStr {
 public:
  // Folds at the first blank, TAB or comma after budget - 1 characters; CR and LF become
  // blanks. Budget 0 stores the text unfolded, keeping only line breaks that open a
  // continuation line (CR LF before a blank or TAB); other CR and LF become blanks, so a
  // value can never start a header line of its own. 0 or 200.
  int SetFolded(const char* text, std::uint32_t length, std::uint32_t budget);
  int SetFolded(const char* text, std::uint32_t budget);
};

class DynStrJ : public DynStrRFC822 {
 public:
  // ISO-2022-JP form of Shift-JIS text; half-width katakana become full-width.
  int ShiftJISToJIS(const char* text);
  int ShiftJISToJIS(const char* text, std::uint32_t length);
  // Shift-JIS form of ISO-2022-JP text; stray escape sequences are skipped.
  int JISToShiftJIS(const char* text);
  int JISToShiftJIS(const char* text, std::uint32_t length);
  // "=?ISO-2022-JP?B?", the base64 of the ISO-2022-JP form on one line, "?=".
  int EncodeWordB(const char* text);
  int EncodeWordB(const char* text, std::uint32_t length);
  // A header parameter: ` name="value"`; with mode 1 and 8-bit bytes in the value, the value
  // becomes encoded words on folded lines inside the quotes.
  int EncodeHeader(const char* name, const char* value, std::uint32_t length, int mode);
  static bool Has8Bit(const void* data, std::uint32_t length);
  static bool Has8BitText(const char* text);
  // Text with every ISO-2022-JP encoded word decoded to Shift-JIS.
  int SetDecoded(const char* text);
  int AppendDecoded(const char* text);
  int AppendDecoded(const char* text, std::uint32_t length);
  // One encoded word's text (between its third "?" and its "?=").
  int DecodeWordB(const char* word, std::uint32_t length);
  int DecodeWordQ(const char* word, std::uint32_t length);
  int AppendKanjiIn();
  int AppendKanjiOut();
};

// The mail builder's Japanese header string. With flag 1 (Japanese mode) and 8-bit bytes in
// the text, Shift-JIS runs become ISO-2022-JP encoded words before the value is folded.
class DynStrJRFC822 : public DynStrJ {
 public:
  // An address list: double-byte runs and quoted names holding 8-bit bytes become encoded
  // words (a quoted one without its quotes).
  int SetAddressList(const char* text, std::uint32_t budget, int flag);
  // Free text: cut into chunks of at most budget - 40 bytes, 8-bit chunks encoded.
  int SetText(const char* text, std::uint32_t budget, int flag);
  using DynStrTemplate::SetText;
};

// One JIS X 0208 character between its two forms.
void SJISPairToJIS(unsigned char s1, unsigned char s2, unsigned char* j1, unsigned char* j2);
void JISPairToSJIS(unsigned char j1, unsigned char j2, unsigned char* s1, unsigned char* s2);
// Full-width Shift-JIS form of the half-width katakana `kana` (0xA1-0xDF). True when `next`
// is a sound mark that was merged into it (the caller then consumes it).
bool WidenKana(unsigned char kana, unsigned char next, unsigned char* s1, unsigned char* s2);
bool IsHexDigit(unsigned char c);
// The byte of two hex digits, or -1.
int HexPairValue(unsigned char hi, unsigned char lo);
