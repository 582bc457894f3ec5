// The framework's byte string: positions count from 1, bytes are kept as they are (NULs
// included), numbers are read and written in the "C" locale whatever LC_NUMERIC says.
#pragma once
#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

class AnsiString {
 public:
  AnsiString() = default;
  AnsiString(const char* s);  // NOLINT: implicit like the framework's; nullptr gives ""
  AnsiString(const char* s, int len);
  AnsiString(const std::string& s) : s_(s) {}  // NOLINT
  AnsiString(std::string&& s) : s_(std::move(s)) {}  // NOLINT
  AnsiString(std::string_view s) : s_(s) {}  // NOLINT
  AnsiString(char c) : s_(1, c) {}  // NOLINT
  AnsiString(int v);  // NOLINT
  AnsiString(unsigned v);  // NOLINT
  AnsiString(long v);  // NOLINT
  AnsiString(unsigned long v);  // NOLINT
  AnsiString(long long v);  // NOLINT
  AnsiString(double v);  // NOLINT: 15 significant digits, "." as decimal point, "1E20" exponents

  int Length() const { return static_cast<int>(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  // Never null; the text ends with a NUL even when it holds NULs of its own.
  const char* c_str() const { return s_.c_str(); }
  const char* data() const { return s_.data(); }
  const std::string& str() const { return s_; }
  std::string_view view() const { return s_; }

  // 1-based; an index outside 1..Length() raises ERangeError.
  char operator[](int index) const;
  char& operator[](int index);

  // Count characters from index; index below 1 counts from 1, count is cut at the end.
  AnsiString SubString(int index, int count) const;
  // Removes count characters from index; an index outside 1..Length() or a count below 1
  // changes nothing.
  AnsiString& Delete(int index, int count);
  // Inserts before index (clamped to 1..Length()+1).
  AnsiString& Insert(const AnsiString& str, int index);
  void SetLength(int newLength);
  // 1-based position of the first occurrence, 0 when absent (and for an empty needle).
  int Pos(const AnsiString& sub) const;

  AnsiString Trim() const;
  AnsiString TrimLeft() const;
  AnsiString TrimRight() const;
  AnsiString UpperCase() const;  // ASCII letters only, like the "C" locale
  AnsiString LowerCase() const;

  // Strict conversions: anything but a number raises EConvertError. Integers may have leading
  // blanks and take $hex and 0x hex; floats may have blanks on both sides.
  int ToInt() const;
  int ToIntDef(int defaultValue) const;
  double ToDouble() const;

  // printf-style, "C" locale. sprintf replaces the text, cat_sprintf appends.
  AnsiString& sprintf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  AnsiString& cat_sprintf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  static AnsiString Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

  AnsiString& operator+=(const AnsiString& rhs) { s_ += rhs.s_; return *this; }
  AnsiString& operator+=(const char* rhs);
  AnsiString& operator+=(char c) { s_ += c; return *this; }

  // Byte-wise comparison, as the "C" locale orders.
  int Compare(const AnsiString& rhs) const { return s_.compare(rhs.s_); }
  int CompareIC(const AnsiString& rhs) const;

 private:
  std::string s_;
};

// Free operators (not hidden friends), so properties and grid cells that convert to AnsiString
// compare and concatenate too: `if (Edit1->Text == "") ...`.
inline AnsiString operator+(const AnsiString& a, const AnsiString& b) { return AnsiString(a.str() + b.str()); }
inline AnsiString operator+(const AnsiString& a, const char* b) { AnsiString r(a); r += b; return r; }
inline AnsiString operator+(const char* a, const AnsiString& b) { AnsiString r(a); r += b; return r; }
inline AnsiString operator+(const AnsiString& a, char b) { AnsiString r(a); r += b; return r; }
inline bool operator==(const AnsiString& a, const AnsiString& b) { return a.str() == b.str(); }
inline bool operator==(const AnsiString& a, const char* b) { return a.str() == (b ? b : ""); }
inline bool operator!=(const AnsiString& a, const AnsiString& b) { return !(a == b); }
inline bool operator!=(const AnsiString& a, const char* b) { return !(a == b); }
inline bool operator<(const AnsiString& a, const AnsiString& b) { return a.str() < b.str(); }
inline bool operator>(const AnsiString& a, const AnsiString& b) { return a.str() > b.str(); }
inline bool operator<=(const AnsiString& a, const AnsiString& b) { return a.str() <= b.str(); }
inline bool operator>=(const AnsiString& a, const AnsiString& b) { return a.str() >= b.str(); }

std::ostream& operator<<(std::ostream& os, const AnsiString& s);

// Framework-style free helpers.
AnsiString IntToStr(long long value);
int StrToInt(const AnsiString& s);  // raises EConvertError
int StrToIntDef(const AnsiString& s, int defaultValue);
double StrToFloat(const AnsiString& s);  // raises EConvertError
AnsiString FloatToStr(double value);
AnsiString UpperCase(const AnsiString& s);
AnsiString LowerCase(const AnsiString& s);
AnsiString Trim(const AnsiString& s);

namespace vcl {
// Lenient conversions of the C runtime (atoi/atof), but always in the "C" locale: text that
// is not a number gives 0, and reading stops at the first character that does not fit.
int CAtoi(const char* s);
double CAtof(const char* s);
}  // namespace vcl
