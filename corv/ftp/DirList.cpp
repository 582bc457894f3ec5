#include <cstring>

#include "corv/ftp/FTP.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char* SkipBlanks(const char* p) {
  while (IsBlank(*p)) ++p;
  return p;
}

}  // namespace

const char* NextToken(const char* position, DynStr& out) {
  const char* p = SkipBlanks(position);
  const char* start = p;
  while (*p && !IsBlank(*p)) ++p;
  if (p > start && out.Append(start, static_cast<std::uint32_t>(p - start)) != 0) {
    // Short of memory: keep what fits, character by character.
    for (const char* q = start; q < p; ++q) out.Append(q, 1);
  }
  return p;
}

bool IsNumeric(const char* text) {
  if (!text || !*text) return false;
  for (const char* p = text; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

std::int64_t StrToInt64(const char* text) {
  if (!text) return 0;
  bool negative = *text == '-';
  if (negative) ++text;
  std::uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + static_cast<std::uint32_t>(*text - '0');
  std::int64_t wide = static_cast<std::int32_t>(value);
  return negative ? -wide : wide;
}

WORD ReadNumber(const char** cursor) {
  const char* p = *cursor;
  WORD value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = static_cast<WORD>(value * 10 + (*p - '0'));
  if (*p) ++p;
  *cursor = p;
  return value;
}

int CFTP::ParseDirEntry(char* line, std::uint32_t length, bool longForm) {
  char kept = line[length];
  line[length] = '\0';
  if (longForm && (line[0] == 't' || line[0] == 'T') && (line[1] == 'o' || line[1] == 'O')) {
    line[length] = kept;
    return 0;
  }
  bool isDir = false;
  std::int32_t size = 0;
  DynStr token;
  DynStr time;
  const char* name = line;
  if (longForm) {
    const char* p = line;
    if (line[0] < '0' || line[0] > '9') {
      isDir = line[0] == 'd';
      for (int i = 0; i < 3; ++i) p = NextToken(p, token);
      token.Set(0u);
      p = NextToken(p, token);
      if (IsNumeric(token.Text())) {
        size = static_cast<std::int32_t>(StrToInt64(token.Text()));
        p = NextToken(p, time);
        if (IsNumeric(time.Text())) {
          size = static_cast<std::int32_t>(StrToInt64(time.Text()));
          time.Set(0u);
          p = NextToken(p, time);
        }
      } else {
        token.Set(0u);
        p = NextToken(p, token);
        size = static_cast<std::int32_t>(StrToInt64(token.Text()));
        p = NextToken(p, time);
      }
      time.Append(" ");
      p = NextToken(p, time);
      time.Append(" ");
      p = NextToken(p, time);
    } else {
      p = NextToken(p, time);
      time.Append(" ");
      p = NextToken(p, time);
      p = NextToken(p, token);
      if (token.Text()[0] == '<')
        isDir = true;
      else
        size = static_cast<std::int32_t>(StrToInt64(token.Text()));
    }
    name = SkipBlanks(p);
  }
  FireDirList(line, name, isDir, size, time.Text());
  line[length] = kept;
  return 0;
}
