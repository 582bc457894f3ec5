#include "corv/mime/DynStrJ.h"

#include <cstring>

#include "corv/core/TextUtil.h"

namespace {
constexpr unsigned char ESC = 27;
constexpr int kNoMemory = 200;

bool IsLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF); }
bool IsTrail(unsigned char c) { return c >= 0x40 && c <= 0xFC; }
bool IsHalfKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }

// Trail bytes (lead 0x81 for the first five and the last three, 0x83 otherwise) of the
// full-width forms of 0xA1-0xDF.
const unsigned char kKanaTrail[63] = {
    0x42, 0x75, 0x76, 0x41, 0x45, 0x92, 0x40, 0x42, 0x44, 0x46, 0x48, 0x83, 0x85, 0x87, 0x62,
    0x5B, 0x41, 0x43, 0x45, 0x47, 0x49, 0x4A, 0x4C, 0x4E, 0x50, 0x52, 0x54, 0x56, 0x58, 0x5A,
    0x5C, 0x5E, 0x60, 0x63, 0x65, 0x67, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x71, 0x74, 0x77,
    0x7A, 0x7D, 0x7E, 0x80, 0x81, 0x82, 0x84, 0x86, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8F,
    0x93, 0x4A, 0x4B};

bool EqualNoCase(const char* a, const char* b, std::uint32_t n) {
  for (std::uint32_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

int AppendByte(DynStr& s, unsigned char c) { return s.Append(&c, 1); }
}  // namespace

void SJISPairToJIS(unsigned char s1, unsigned char s2, unsigned char* j1, unsigned char* j2) {
  int a = s1 < 160 ? 2 * s1 - 224 : 2 * s1 - 352;
  if (s2 < 159) --a;
  int b = s2 > 158 ? s2 - 126 : s2 >= 128 ? s2 - 32 : s2 - 31;
  *j1 = static_cast<unsigned char>(a);
  *j2 = static_cast<unsigned char>(b);
}

void JISPairToSJIS(unsigned char j1, unsigned char j2, unsigned char* s1, unsigned char* s2) {
  *s1 = static_cast<unsigned char>((j1 + 1) / 2 + (j1 < 95 ? 112 : 176));
  int t;
  if (j1 % 2 == 0)
    t = j2 + 126;
  else
    t = j2 < 96 ? j2 + 31 : j2 + 32;
  *s2 = static_cast<unsigned char>(t);
}

bool WidenKana(unsigned char kana, unsigned char next, unsigned char* s1, unsigned char* s2) {
  if (!IsHalfKana(kana)) {
    *s1 = 0x81;
    *s2 = 0x45;
    return false;
  }
  unsigned idx = kana - 0xA1u;
  bool symbol = idx < 5 || kana == 0xB0 || kana >= 0xDE;
  *s1 = symbol ? 0x81 : 0x83;
  *s2 = kKanaTrail[idx];
  if (next == 0xDE) {
    if ((kana >= 0xB6 && kana <= 0xC4) || (kana >= 0xCA && kana <= 0xCE)) {
      if ((*s2 >= 74 && *s2 <= 103) || (*s2 >= 110 && *s2 <= 122)) ++*s2;
      return true;
    }
    if (kana == 0xB3) {
      *s2 = 0x94;
      return true;
    }
  } else if (next == 0xDF && kana >= 0xCA && kana <= 0xCE) {
    if (*s2 >= 110 && *s2 <= 122) *s2 = static_cast<unsigned char>(*s2 + 2);
    return true;
  }
  return false;
}

bool IsHexDigit(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexPairValue(unsigned char hi, unsigned char lo) {
  auto v = [](unsigned char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  int a = v(hi), b = v(lo);
  return a < 0 || b < 0 ? -1 : a * 16 + b;
}

int DynStrJ::AppendKanjiIn() { return Append("\x1b$B", 3); }
int DynStrJ::AppendKanjiOut() { return Append("\x1b(B", 3); }

int DynStrJ::ShiftJISToJIS(const char* text) {
  return text ? ShiftJISToJIS(text, static_cast<std::uint32_t>(std::strlen(text))) : 0;
}

int DynStrJ::ShiftJISToJIS(const char* text, std::uint32_t length) {
  const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
  bool dbl = false;
  std::uint32_t i = 0;
  int r = 0;
  auto enter = [&]() -> int {
    if (dbl) return 0;
    dbl = true;
    return AppendKanjiIn();
  };
  auto leave = [&]() -> int {
    if (!dbl) return 0;
    dbl = false;
    return AppendKanjiOut();
  };
  while (i < length && r == 0) {
    unsigned char c = t[i];
    if (c == '\r' || c == '\n') {
      r = leave();
      if (!r) r = AppendByte(*this, c);
      ++i;
    } else if (IsLead(c)) {
      if (i + 1 >= length) break;  // a lead byte without its partner is dropped
      unsigned char n = t[i + 1];
      unsigned char pair[2] = {c, n};
      if (IsTrail(n)) {
        SJISPairToJIS(c, n, &pair[0], &pair[1]);
        r = enter();
      }
      if (!r) r = Append(pair, 2);
      i += 2;
    } else if (IsHalfKana(c)) {
      unsigned char s1, s2, pair[2];
      unsigned char next = i + 1 < length ? t[i + 1] : 0;
      i += WidenKana(c, next, &s1, &s2) ? 2 : 1;
      SJISPairToJIS(s1, s2, &pair[0], &pair[1]);
      r = enter();
      if (!r) r = Append(pair, 2);
    } else {
      r = leave();
      if (!r) r = AppendByte(*this, c);
      ++i;
    }
  }
  if (!r) r = leave();
  return r;
}

int DynStrJ::JISToShiftJIS(const char* text) {
  return text ? JISToShiftJIS(text, static_cast<std::uint32_t>(std::strlen(text))) : 0;
}

int DynStrJ::JISToShiftJIS(const char* text, std::uint32_t length) {
  const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
  bool dbl = false;
  std::uint32_t i = 0;
  while (i < length) {
    unsigned char c = t[i];
    int r = 0;
    if (c == ESC) {
      if (i + 1 >= length) break;
      unsigned char n = t[i + 1];
      dbl = n == '$' || n == 'K';
      std::uint32_t skip = (n == '$' || n == '(') ? 3 : 2;
      i = length - i < skip ? length : i + skip;
      continue;
    }
    if (c == '\r' || c == '\n') {
      dbl = false;
      r = AppendByte(*this, c);
      ++i;
    } else if (dbl) {
      if (i + 1 >= length) break;  // half a character at the end is dropped
      unsigned char pair[2];
      JISPairToSJIS(c, t[i + 1], &pair[0], &pair[1]);
      r = Append(pair, 2);
      i += 2;
    } else {
      r = AppendByte(*this, c);
      ++i;
    }
    if (r) return r;
  }
  return 0;
}

int DynStrJ::EncodeWordB(const char* text) {
  return EncodeWordB(text, text ? static_cast<std::uint32_t>(std::strlen(text)) : 0);
}

int DynStrJ::EncodeWordB(const char* text, std::uint32_t length) {
  DynStrJ work;
  if (work.ShiftJISToJIS(text, length)) return kNoMemory;
  if (Append("=?ISO-2022-JP?B?", 16)) return kNoMemory;
  // One unbroken line: a line break inside an encoded word would end the word.
  const unsigned char* in = reinterpret_cast<const unsigned char*>(work.Text());
  std::uint32_t n = work.Length();
  std::uint32_t at = Length();
  if (Set(at + (n + 2) / 3 * 4)) return kNoMemory;
  char* o = Text() + at;
  for (std::uint32_t i = 0; i < n; i += 3) {
    unsigned v = unsigned(in[i]) << 16;
    if (i + 1 < n) v |= unsigned(in[i + 1]) << 8;
    if (i + 2 < n) v |= in[i + 2];
    *o++ = Base64Alphabet[v >> 18];
    *o++ = Base64Alphabet[(v >> 12) & 63];
    *o++ = i + 1 < n ? Base64Alphabet[(v >> 6) & 63] : '=';
    *o++ = i + 2 < n ? Base64Alphabet[v & 63] : '=';
  }
  return Append("?=", 2);
}

bool DynStrJ::Has8Bit(const void* data, std::uint32_t length) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (std::uint32_t i = 0; i < length; ++i)
    if (p[i] >= 128) return true;
  return false;
}

int DynStrJ::EncodeHeader(const char* name, const char* value, std::uint32_t length, int mode) {
  if (!name) name = "";
  if (!value) value = "";
  if (mode != 1 || !Has8Bit(value, length)) {
    if (Append(" ") || Append(name) || Append("=\"")) return kNoMemory;
    // A line break in a value would end the header and start one of the caller's choosing.
    std::uint32_t from = 0;
    for (std::uint32_t i = 0; i <= length; ++i) {
      if (i < length && value[i] != '\r' && value[i] != '\n') continue;
      if (Append(value + from, i - from)) return kNoMemory;
      from = i + 1;
    }
    return Append("\"");
  }
  if (Append("\r\n\t") || Append(name) || Append("=\"")) return kNoMemory;
  const unsigned char* v = reinterpret_cast<const unsigned char*>(value);
  std::uint32_t start = 0, i = 0;
  bool first = true;
  auto word = [&](std::uint32_t end) -> int {
    if (!first && Append("\r\n\t")) return kNoMemory;
    first = false;
    int r = EncodeWordB(value + start, end - start);
    start = end;
    return r;
  };
  while (i < length) {
    i += IsLead(v[i]) && i + 1 < length ? 2 : 1;
    if (i - start > (first ? 35u : 50u))
      if (word(i)) return kNoMemory;
  }
  if (start < length && word(length)) return kNoMemory;
  return Append("\"");
}

int DynStrJ::SetDecoded(const char* text) {
  if (Set(0u)) return kNoMemory;
  return AppendDecoded(text);
}

int DynStrJ::AppendDecoded(const char* text) {
  return text ? AppendDecoded(text, static_cast<std::uint32_t>(std::strlen(text))) : 0;
}

int DynStrJ::AppendDecoded(const char* text, std::uint32_t length) {
  static const char kCharset[] = "ISO-2022-JP?";
  constexpr std::uint32_t kCharsetLen = sizeof kCharset - 1;
  std::uint32_t i = 0, plain = 0;
  bool afterWord = false;
  // Blanks and line breaks between two encoded words only separate them.
  auto onlySpace = [&](std::uint32_t from, std::uint32_t to) {
    for (std::uint32_t k = from; k < to; ++k)
      if (text[k] != ' ' && text[k] != '\t' && text[k] != '\r' && text[k] != '\n') return false;
    return true;
  };
  while (i < length) {
    // "=?ISO-2022-JP?" letter "?" ... "?="
    if (text[i] == '=' && i + 1 < length && text[i + 1] == '?' &&
        length - (i + 2) >= kCharsetLen + 2 && EqualNoCase(text + i + 2, kCharset, kCharsetLen) &&
        text[i + 3 + kCharsetLen] == '?') {
      std::uint32_t body = i + 4 + kCharsetLen;
      std::uint32_t end = body;
      while (end + 1 < length && !(text[end] == '?' && text[end + 1] == '=')) ++end;
      if (end + 1 < length) {
        if (!(afterWord && onlySpace(plain, i)) && Append(text + plain, i - plain)) return kNoMemory;
        char letter = text[i + 2 + kCharsetLen];
        int r = 0;
        if (letter == 'B' || letter == 'b')
          r = DecodeWordB(text + body, end - body);
        else if (letter == 'Q' || letter == 'q')
          r = DecodeWordQ(text + body, end - body);
        if (r) return r;
        i = plain = end + 2;
        afterWord = true;
        continue;
      }
    }
    ++i;
  }
  return Append(text + plain, length - plain);
}

int DynStrJ::DecodeWordB(const char* word, std::uint32_t length) {
  DynStr raw;
  if (raw.Set(length, word)) return kNoMemory;
  raw.DecodeBase64();
  return JISToShiftJIS(raw.Text(), raw.Length());
}

int DynStrJ::DecodeWordQ(const char* word, std::uint32_t length) {
  DynStr raw;
  if (raw.Set(length)) return kNoMemory;
  char* o = raw.Text();
  std::uint32_t n = 0;
  const unsigned char* w = reinterpret_cast<const unsigned char*>(word);
  for (std::uint32_t i = 0; i < length; ++i) {
    unsigned char c = w[i];
    if (c == '_') {
      o[n++] = ' ';
    } else if (c == '=' && i + 2 < length && HexPairValue(w[i + 1], w[i + 2]) >= 0) {
      o[n++] = static_cast<char>(HexPairValue(w[i + 1], w[i + 2]));
      i += 2;
    } else if (c == '=' && i + 1 < length) {
      o[n++] = '=';
      o[n++] = static_cast<char>(w[++i]);
    } else {
      o[n++] = static_cast<char>(c);
    }
  }
  return JISToShiftJIS(o, n);
}

bool DynStrJ::Has8BitText(const char* text) {
  return text && Has8Bit(text, static_cast<std::uint32_t>(std::strlen(text)));
}

// ---- mail header values ----

namespace {
bool IsFoldPoint(unsigned char c) { return c == ' ' || c == '\t' || c == ','; }
}  // namespace

int DynStrRFC822::SetFolded(const char* text, std::uint32_t budget) {
  return SetFolded(text, text ? static_cast<std::uint32_t>(std::strlen(text)) : 0, budget);
}

int DynStrRFC822::SetFolded(const char* text, std::uint32_t length, std::uint32_t budget) {
  if (!text) length = 0;
  if (budget == 0) {
    if (Set(length, text)) return kNoMemory;
    char* t = Text();
    for (std::uint32_t i = 0; i < length; ++i) {
      if (t[i] != '\r' && t[i] != '\n') continue;
      const bool fold = t[i] == '\r' && i + 2 < length && t[i + 1] == '\n' && (t[i + 2] == ' ' || t[i + 2] == '\t');
      if (fold)
        ++i;
      else
        t[i] = ' ';
    }
    return 0;
  }
  // Reserve the worst case once: one fold of three bytes per budget characters.
  const std::uint64_t room = (std::uint64_t(length) / budget + 1) * 3 + length + 1;
  if (room > 0xFFFFFFF0u || Set(static_cast<std::uint32_t>(room))) return kNoMemory;
  char* out = Text();
  std::uint32_t o = 0;
  std::int64_t counter = budget;
  for (std::uint32_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    --counter;
    if (c == '\r' || c == '\n') c = ' ';
    if (counter > 0 || !IsFoldPoint(c)) {
      out[o++] = static_cast<char>(c);
      continue;
    }
    if (c == ',') out[o++] = ',';
    if (i + 1 < length) {
      out[o++] = '\r';
      out[o++] = '\n';
      out[o++] = '\t';
      counter = budget;
    }
  }
  return Set(o);
}

int DynStrJRFC822::SetAddressList(const char* text, std::uint32_t budget, int flag) {
  Set(0u);
  const std::uint32_t n = text ? static_cast<std::uint32_t>(std::strlen(text)) : 0;
  if (flag == 0 || !Has8Bit(text, n)) return SetFolded(text, n, budget);
  DynStrJ work;
  const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
  bool inRun = false, inQuote = false;
  std::uint32_t runStart = 0, runEnd = 0, quoteStart = 0;
  std::uint32_t i = 0;
  while (i < n) {
    const unsigned char c = t[i];
    if (inQuote) {
      if (c == '"') {
        const std::uint32_t len = i - quoteStart;
        int r;
        if (Has8Bit(text + quoteStart, len))
          r = work.EncodeWordB(text + quoteStart, len);
        else
          r = work.Append(text + quoteStart - 1, len + 2);
        if (r) return kNoMemory;
        inQuote = false;
      }
      ++i;
      continue;
    }
    if (IsLead(c)) {
      if (i + 1 >= n) break;
      if (!inRun) {
        inRun = true;
        runStart = i;
      }
      runEnd = i + 2;
      i += 2;
      continue;
    }
    if (inRun) {
      if (work.EncodeWordB(text + runStart, runEnd - runStart)) return kNoMemory;
      inRun = false;
    }
    if (c == '"') {
      inQuote = true;
      quoteStart = i + 1;
    } else if (AppendByte(work, c)) {
      return kNoMemory;
    }
    ++i;
  }
  if (inQuote) {
    if (work.EncodeWordB(text + quoteStart, n - quoteStart)) return kNoMemory;
  } else if (inRun) {
    if (work.EncodeWordB(text + runStart, runEnd - runStart)) return kNoMemory;
  }
  return SetFolded(work.Text(), work.Length(), budget);
}

int DynStrJRFC822::SetText(const char* text, std::uint32_t budget, int flag) {
  Set(0u);
  const std::uint32_t n = text ? static_cast<std::uint32_t>(std::strlen(text)) : 0;
  if (flag == 0 || !Has8Bit(text, n)) return SetFolded(text, n, budget);
  const std::uint32_t limit = budget > 40 ? budget - 40 : 0;
  DynStr chunk;
  auto flush = [&]() -> int {
    int r = Has8Bit(chunk.Text(), chunk.Length()) ? EncodeWordB(chunk.Text(), chunk.Length())
                                                   : Append(chunk.Text(), chunk.Length());
    chunk.Set(0u);
    return r ? kNoMemory : 0;
  };
  const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
  std::uint32_t i = 0;
  while (i < n) {
    unsigned char c = t[i];
    if (IsLead(c)) {
      if (chunk.Length() > limit) {
        if (flush() || Append("\r\n\t", 3)) return kNoMemory;
      }
      if (i + 1 >= n) break;
      if (chunk.Append(text + i, 2)) return kNoMemory;
      i += 2;
      continue;
    }
    if (c == '\r' || c == '\n') c = ' ';
    if (chunk.Length() < limit && !IsFoldPoint(c)) {
      if (AppendByte(chunk, c)) return kNoMemory;
      ++i;
      continue;
    }
    const bool wasShort = chunk.Length() < limit;
    if (c == ',' && AppendByte(chunk, c)) return kNoMemory;
    if (flush()) return kNoMemory;
    if (wasShort) {
      if (c != ',' && AppendByte(*this, c)) return kNoMemory;
    } else {
      if (Append("\r\n\t", 3)) return kNoMemory;
      if (!IsFoldPoint(c) && AppendByte(chunk, c)) return kNoMemory;
    }
    ++i;
  }
  return flush();
}
