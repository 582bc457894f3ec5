#include "platform/win32/misc.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;
std::atomic<DWORD> tickOffset{0};

bool IsShiftJis(const char* charset) {
  if (!charset) return false;
  std::string key;
  for (const char* p = charset; *p; ++p) {
    if (*p == '-' || *p == '_') continue;
    key += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  }
  return key == "sjis" || key == "shiftjis" || key == "cp932";
}

// The charset part of a locale name such as "ja_JP.SJIS@euro".
std::string CharsetOf(const char* name) {
  const char* dot = std::strchr(name, '.');
  if (!dot) return {};
  std::string cs(dot + 1);
  return cs.substr(0, cs.find('@'));
}

}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

DWORD GetTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms + tickOffset.load(std::memory_order_relaxed));
}

void GetSystemTime(SYSTEMTIME* out) {
  if (!out) return;
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm utc{};
  gmtime_r(&ts.tv_sec, &utc);
  out->wYear = static_cast<WORD>(utc.tm_year + 1900);
  out->wMonth = static_cast<WORD>(utc.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(utc.tm_wday);
  out->wDay = static_cast<WORD>(utc.tm_mday);
  out->wHour = static_cast<WORD>(utc.tm_hour);
  out->wMinute = static_cast<WORD>(utc.tm_min);
  out->wSecond = static_cast<WORD>(utc.tm_sec);
  out->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

UINT GetACP() {
  // A private locale object: changing the process locale here would change number parsing.
  if (locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr))) {
    const bool sjis = IsShiftJis(nl_langinfo_l(CODESET, loc));
    freelocale(loc);
    if (sjis) return 932;
  }
  // The locale may not be installed; its name still says what the user asked for.
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) return IsShiftJis(CharsetOf(v).c_str()) ? 932 : 1252;
  }
  return 1252;
}

namespace {

constexpr std::size_t kMaxOut = 1024;

class Writer {
 public:
  explicit Writer(char* out) : out_(out) {}
  void Put(char c) {
    if (n_ < kMaxOut - 1) out_[n_++] = c;
  }
  void Pad(std::size_t count, char c) {
    for (std::size_t i = 0; i < count; ++i) Put(c);
  }
  int Finish() {
    out_[n_] = '\0';
    return static_cast<int>(n_);
  }

 private:
  char* out_;
  std::size_t n_ = 0;
};

}  // namespace

int wsprintfA(LPSTR out, LPCSTR format, ...) {
  if (!out) return 0;
  Writer w(out);
  if (!format) return w.Finish();
  va_list args;
  va_start(args, format);
  for (const char* p = format; *p; ++p) {
    if (*p != '%') {
      w.Put(*p);
      continue;
    }
    const char* start = p++;
    bool left = false, zero = false;
    for (;; ++p) {
      if (*p == '-') left = true;
      else if (*p == '0') zero = true;
      else break;
    }
    std::size_t width = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) width = std::min<std::size_t>(width * 10 + (*p++ - '0'), kMaxOut);
    bool hasPrecision = false;
    std::size_t precision = 0;
    if (*p == '.') {
      hasPrecision = true;
      ++p;
      while (std::isdigit(static_cast<unsigned char>(*p)))
        precision = std::min<std::size_t>(precision * 10 + (*p++ - '0'), kMaxOut);
    }
    bool isShort = false;
    // 'l' is 32 bits, as long is on Windows.
    if (*p == 'l') ++p;
    else if (*p == 'h') isShort = true, ++p;

    char digits[16];
    std::size_t len = 0;
    const char* text = digits;
    bool negative = false;
    switch (*p) {
      case 'd':
      case 'i': {
        int v = va_arg(args, int);
        if (isShort) v = static_cast<short>(v);
        negative = v < 0;
        std::uint32_t u = negative ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
        do digits[sizeof digits - 1 - len++] = static_cast<char>('0' + u % 10);
        while (u /= 10);
        text = digits + sizeof digits - len;
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        std::uint32_t u = va_arg(args, unsigned int);
        if (isShort) u = static_cast<std::uint16_t>(u);
        const unsigned base = *p == 'u' ? 10 : 16;
        const char* set = *p == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
        do digits[sizeof digits - 1 - len++] = set[u % base];
        while (u /= base);
        text = digits + sizeof digits - len;
        break;
      }
      case 'c':
        digits[0] = static_cast<char>(va_arg(args, int));
        len = 1;
        break;
      case 's': {
        const char* s = va_arg(args, const char*);
        text = s ? s : "(null)";
        len = hasPrecision ? strnlen(text, precision) : std::strlen(text);
        break;
      }
      case '%':
        w.Put('%');
        continue;
      default:
        // Unknown conversions are copied as they stand.
        for (const char* q = start; q <= p && *q; ++q) w.Put(*q);
        if (!*p) --p;
        continue;
    }
    if (hasPrecision && *p != 's' && *p != 'c' && precision > len) {
      // Numbers: precision is the minimum number of digits.
      const std::size_t fill = precision - len;
      const std::size_t total = fill + len + (negative ? 1 : 0);
      if (!left && total < width) w.Pad(width - total, ' ');
      if (negative) w.Put('-');
      w.Pad(fill, '0');
      for (std::size_t i = 0; i < len; ++i) w.Put(text[i]);
      if (left && total < width) w.Pad(width - total, ' ');
      continue;
    }
    const std::size_t total = len + (negative ? 1 : 0);
    const std::size_t pad = total < width ? width - total : 0;
    if (left) {
      if (negative) w.Put('-');
      for (std::size_t i = 0; i < len; ++i) w.Put(text[i]);
      w.Pad(pad, ' ');
    } else if (zero && *p != 's' && *p != 'c') {
      if (negative) w.Put('-');
      w.Pad(pad, '0');
      for (std::size_t i = 0; i < len; ++i) w.Put(text[i]);
    } else {
      w.Pad(pad, zero ? '0' : ' ');
      if (negative) w.Put('-');
      for (std::size_t i = 0; i < len; ++i) w.Put(text[i]);
    }
  }
  va_end(args);
  return w.Finish();
}

namespace win32::test {
void SetTickOffset(DWORD offset) { tickOffset.store(offset, std::memory_order_relaxed); }
}  // namespace win32::test
