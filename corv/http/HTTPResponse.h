// Pieces of the HTTP/1.0 response parser that need no socket: cookie values, header lines
// that arrive in pieces, the kept copy of the body, and the judgement of the status line.
#pragma once
#include <cstdint>

#include "corv/core/DynStr.h"

// A "Set-Cookie" value cut in place; every text points into the value (or at "").
struct HTTPCookie {
  const char* name = "";
  const char* value = "";
  const char* expires = "";
  const char* domain = "";
  const char* path = "";
  int secure = 0;
};
void HTTPParseSetCookie(char* text, HTTPCookie& out);

// Joins the pieces of a line longer than the receive buffer. A line that came whole is
// handed back in place, without a copy.
class HTTPLineAssembler {
 public:
  static constexpr std::uint32_t kMaxLine = 64 * 1024;
  enum Result { kLine, kMore, kTooLong, kNoMemory };

  // Feeds one delivery (eol: the terminator ended it). On kLine, *line and *length give the
  // whole line, valid until the next Feed or Reset.
  Result Feed(char* data, std::uint32_t n, bool eol, char** line, std::uint32_t* length);
  void Reset();
  // Pieces of a line are waiting for its end.
  bool Pending() const { return (!m_spent && m_pieces.Length() > 0) || m_tooLong; }

 private:
  DynStr m_pieces;
  bool m_tooLong = false;
  bool m_spent = false;  // m_pieces holds a line already handed out
};

// What a finished response asks for.
enum class HTTPVerdict { kSuccess, kFail, kFollow };
// Judges the status line (not empty). *statusText points at the status code and reason in
// statusLine, or at "" when the line has no blank. action: 1 GET, 3 HEAD, others no redirect.
HTTPVerdict HTTPJudgeStatus(const char* statusLine, int followRedirects, int action,
                            const DynStr& location, const DynStr& scheme, const char** statusText);

// Appends to kept as much of the block as fits below max (0: no limit). 0 or 200.
int HTTPKeepCapped(DynStr& kept, const char* data, std::uint32_t n, std::uint32_t max);
