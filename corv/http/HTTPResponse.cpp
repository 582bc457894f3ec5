#include "corv/http/HTTPResponse.h"

#include <cstring>

#include "corv/http/HTTPRequest.h"

namespace {

// Cuts text at the first c: the character becomes 0 and the text after it is returned;
// without c, the empty text at the end.
char* CutAt(char* text, char c) {
  char* p = std::strchr(text, c);
  if (!p) return text + std::strlen(text);
  *p = 0;
  return p + 1;
}

char* SkipOneBlank(char* p) { return *p == ' ' ? p + 1 : p; }

}  // namespace

void HTTPParseSetCookie(char* text, HTTPCookie& out) {
  out = HTTPCookie{};
  out.name = text;
  char* value = CutAt(text, '=');
  out.value = value;
  char* rest = SkipOneBlank(CutAt(value, ';'));
  while (*rest) {
    char* attr = rest;
    char* attrValue = CutAt(attr, '=');
    rest = SkipOneBlank(CutAt(attrValue, ';'));
    if (HTTPSameText(attr, "EXPIRES")) {
      out.expires = attrValue;
    } else if (HTTPSameText(attr, "DOMAIN")) {
      out.domain = attrValue;
    } else if (HTTPSameText(attr, "PATH")) {
      out.path = attrValue;
    } else if (HTTPSameText(attr, "SECURE")) {
      out.secure = 1;
    }
  }
}

void HTTPLineAssembler::Reset() {
  m_pieces.Set(0u);
  m_tooLong = false;
  m_spent = false;
}

HTTPLineAssembler::Result HTTPLineAssembler::Feed(char* data, std::uint32_t n, bool eol, char** line,
                                                  std::uint32_t* length) {
  if (m_spent) Reset();
  if (!m_tooLong && m_pieces.Length() + static_cast<std::uint64_t>(n) > kMaxLine) {
    m_tooLong = true;
    m_pieces.Clear();
  }
  if (!eol) {
    if (!m_tooLong && m_pieces.Append(data, n) != 0) {
      Reset();
      return kNoMemory;
    }
    return kMore;
  }
  if (m_tooLong) {
    Reset();
    return kTooLong;
  }
  if (m_pieces.IsEmpty()) {
    *line = data;
    *length = n;
    return kLine;
  }
  if (m_pieces.Append(data, n) != 0) {
    Reset();
    return kNoMemory;
  }
  m_spent = true;
  *line = m_pieces.Text();
  *length = m_pieces.Length();
  return kLine;
}

HTTPVerdict HTTPJudgeStatus(const char* statusLine, int followRedirects, int action,
                            const DynStr& location, const DynStr& scheme, const char** statusText) {
  const char* blank = std::strchr(statusLine, ' ');
  const char* status = blank ? blank + 1 : statusLine + std::strlen(statusLine);
  *statusText = status;
  if (!blank) return HTTPVerdict::kFail;
  if (status[0] == '2') return HTTPVerdict::kSuccess;
  if (followRedirects == 0) return HTTPVerdict::kFail;
  if ((action != 1 && action != 3) || status[0] != '3' || status[1] != '0' || status[2] == '4' ||
      status[2] == '5') {
    return HTTPVerdict::kFail;
  }
  if (followRedirects == 2 && std::strstr(location.Text(), "://") != nullptr) {
    // The scheme must be followed by ":" and both must lie inside Location.
    if (location.Length() <= scheme.Length() || location.Text()[scheme.Length()] != ':' ||
        std::memcmp(location.Text(), scheme.Text(), scheme.Length()) != 0) {
      return HTTPVerdict::kFail;
    }
  }
  return HTTPVerdict::kFollow;
}

int HTTPKeepCapped(DynStr& kept, const char* data, std::uint32_t n, std::uint32_t max) {
  if (max != 0) {
    if (kept.Length() >= max) return 0;
    if (n > max - kept.Length()) n = max - kept.Length();
  }
  return n ? kept.Append(data, n) : 0;
}
