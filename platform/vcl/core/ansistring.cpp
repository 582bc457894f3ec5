#include "platform/vcl/core/ansistring.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <ostream>

#include "platform/vcl/core/sysutils.h"

namespace {

locale_t CLocale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return loc;
}

// Runs vsnprintf with the "C" locale for this thread only, so "%f" always writes '.'.
std::string VFormat(const char* format, va_list ap) {
  locale_t old = uselocale(CLocale());
  va_list ap2;
  va_copy(ap2, ap);
  char buf[256];
  int n = std::vsnprintf(buf, sizeof buf, format, ap);
  std::string out;
  if (n >= 0 && static_cast<size_t>(n) < sizeof buf) {
    out.assign(buf, static_cast<size_t>(n));
  } else if (n >= 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, ap2);
    out.resize(static_cast<size_t>(n));
  }
  va_end(ap2);
  uselocale(old);
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view Stripped(std::string_view v) {
  while (!v.empty() && IsBlank(v.front())) v.remove_prefix(1);
  while (!v.empty() && IsBlank(v.back())) v.remove_suffix(1);
  return v;
}

bool ParseInt(std::string_view v, int& out) {
  // Blanks may lead, as the framework's conversion skips them; nothing may trail.
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  bool neg = false;
  if (!v.empty() && (v[0] == '+' || v[0] == '-')) {
    neg = v[0] == '-';
    v.remove_prefix(1);
  }
  int base = 10;
  if (!v.empty() && v[0] == '$') {
    base = 16;
    v.remove_prefix(1);
  } else if (v.size() > 1 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    base = 16;
    v.remove_prefix(2);
  }
  if (v.empty()) return false;
  unsigned long long mag = 0;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), mag, base);
  if (ec != std::errc() || p != v.data() + v.size()) return false;
  if (base == 16 && !neg) {
    // $FFFFFFFF is -1 to the framework: hex texts name a 32-bit pattern.
    if (mag > 0xFFFFFFFFull) return false;
    out = static_cast<int>(static_cast<unsigned>(mag));
    return true;
  }
  if (neg ? mag > 2147483648ull : mag > 2147483647ull) return false;
  long long v64 = neg ? -static_cast<long long>(mag) : static_cast<long long>(mag);
  out = static_cast<int>(v64);
  return true;
}

bool ParseDouble(std::string_view v, double& out) {
  v = Stripped(v);
  if (v.empty()) return false;
  std::string tmp(v);
  char* end = nullptr;
  errno = 0;
  double d = strtod_l(tmp.c_str(), &end, CLocale());
  if (end != tmp.c_str() + tmp.size()) return false;
  if (errno == ERANGE && std::isinf(d)) return false;
  if (std::isnan(d) || std::isinf(d)) {
    // Only plain numbers are numbers to the framework, not "inf" or "nan".
    return false;
  }
  out = d;
  return true;
}

}  // namespace

AnsiString::AnsiString(const char* s) : s_(s ? s : "") {}
AnsiString::AnsiString(const char* s, int len) {
  if (s && len > 0) s_.assign(s, static_cast<size_t>(len));
}
AnsiString::AnsiString(int v) : s_(std::to_string(v)) {}
AnsiString::AnsiString(unsigned v) : s_(std::to_string(v)) {}
AnsiString::AnsiString(long v) : s_(std::to_string(v)) {}
AnsiString::AnsiString(unsigned long v) : s_(std::to_string(v)) {}
AnsiString::AnsiString(long long v) : s_(std::to_string(v)) {}
AnsiString::AnsiString(double v) {
  // The framework's general format: 15 significant digits, "1E20" style exponents.
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  if (ec != std::errc()) return;
  std::string t(buf, p);
  size_t e = t.find('e');
  if (e != std::string::npos) {
    std::string mant = t.substr(0, e), exp = t.substr(e + 1);
    bool neg = !exp.empty() && exp[0] == '-';
    if (!exp.empty() && (exp[0] == '-' || exp[0] == '+')) exp.erase(0, 1);
    while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
    t = mant + "E" + (neg ? "-" : "") + exp;
  }
  s_ = std::move(t);
}

char AnsiString::operator[](int index) const {
  if (index < 1 || index > Length()) throw ERangeError("String index out of range");
  return s_[static_cast<size_t>(index - 1)];
}

char& AnsiString::operator[](int index) {
  if (index < 1 || index > Length()) throw ERangeError("String index out of range");
  return s_[static_cast<size_t>(index - 1)];
}

AnsiString AnsiString::SubString(int index, int count) const {
  if (index < 1) index = 1;
  if (count <= 0 || index > Length()) return AnsiString();
  return AnsiString(s_.substr(static_cast<size_t>(index - 1), static_cast<size_t>(count)));
}

AnsiString& AnsiString::Delete(int index, int count) {
  if (index >= 1 && index <= Length() && count > 0)
    s_.erase(static_cast<size_t>(index - 1), static_cast<size_t>(count));
  return *this;
}

AnsiString& AnsiString::Insert(const AnsiString& str, int index) {
  if (index < 1) index = 1;
  if (index > Length() + 1) index = Length() + 1;
  s_.insert(static_cast<size_t>(index - 1), str.s_);
  return *this;
}

void AnsiString::SetLength(int newLength) { s_.resize(newLength > 0 ? static_cast<size_t>(newLength) : 0); }

int AnsiString::Pos(const AnsiString& sub) const {
  if (sub.s_.empty()) return 0;
  size_t p = s_.find(sub.s_);
  return p == std::string::npos ? 0 : static_cast<int>(p) + 1;
}

AnsiString AnsiString::Trim() const {
  // The framework trims every control character and blank (<= ' ').
  size_t b = 0, e = s_.size();
  while (b < e && static_cast<unsigned char>(s_[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s_[e - 1]) <= ' ') --e;
  return AnsiString(s_.substr(b, e - b));
}
AnsiString AnsiString::TrimLeft() const {
  size_t b = 0;
  while (b < s_.size() && static_cast<unsigned char>(s_[b]) <= ' ') ++b;
  return AnsiString(s_.substr(b));
}
AnsiString AnsiString::TrimRight() const {
  size_t e = s_.size();
  while (e > 0 && static_cast<unsigned char>(s_[e - 1]) <= ' ') --e;
  return AnsiString(s_.substr(0, e));
}

AnsiString AnsiString::UpperCase() const {
  std::string r(s_);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return AnsiString(std::move(r));
}
AnsiString AnsiString::LowerCase() const {
  std::string r(s_);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return AnsiString(std::move(r));
}

int AnsiString::CompareIC(const AnsiString& rhs) const { return LowerCase().Compare(rhs.LowerCase()); }

int AnsiString::ToInt() const {
  int v = 0;
  if (!ParseInt(s_, v)) throw EConvertError("'" + *this + "' is not a valid integer value");
  return v;
}
int AnsiString::ToIntDef(int defaultValue) const {
  int v = 0;
  return ParseInt(s_, v) ? v : defaultValue;
}
double AnsiString::ToDouble() const {
  double v = 0;
  if (!ParseDouble(s_, v)) throw EConvertError("'" + *this + "' is not a valid floating point value");
  return v;
}

AnsiString& AnsiString::sprintf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  s_ = VFormat(format, ap);
  va_end(ap);
  return *this;
}
AnsiString& AnsiString::cat_sprintf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  s_ += VFormat(format, ap);
  va_end(ap);
  return *this;
}
AnsiString AnsiString::Format(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  AnsiString r(VFormat(format, ap));
  va_end(ap);
  return r;
}

AnsiString& AnsiString::operator+=(const char* rhs) {
  if (rhs) s_ += rhs;
  return *this;
}

std::ostream& operator<<(std::ostream& os, const AnsiString& s) { return os << s.str(); }

AnsiString IntToStr(long long value) { return AnsiString(value); }
int StrToInt(const AnsiString& s) { return s.ToInt(); }
int StrToIntDef(const AnsiString& s, int defaultValue) { return s.ToIntDef(defaultValue); }
double StrToFloat(const AnsiString& s) { return s.ToDouble(); }
AnsiString FloatToStr(double value) { return AnsiString(value); }
AnsiString UpperCase(const AnsiString& s) { return s.UpperCase(); }
AnsiString LowerCase(const AnsiString& s) { return s.LowerCase(); }
AnsiString Trim(const AnsiString& s) { return s.Trim(); }

void Abort() { throw EAbort("Operation aborted"); }

namespace vcl {
int CAtoi(const char* s) {
  if (!s) return 0;
  return static_cast<int>(strtol_l(s, nullptr, 10, CLocale()));
}
double CAtof(const char* s) {
  if (!s) return 0;
  return strtod_l(s, nullptr, CLocale());
}
}  // namespace vcl
