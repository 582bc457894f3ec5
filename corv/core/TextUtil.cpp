#include "corv/core/TextUtil.h"

#include <cstring>

#include "corv/core/Errors.h"

namespace {
constexpr std::uint64_t kMaxLength = 0xFFFFFFFEu;

constexpr bool UrlSafe(unsigned c) {
  return c == '*' || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == '@' || (c >= 'A' && c <= 'Z') ||
         c == '_' || (c >= 'a' && c <= 'z');
}

struct CharClassTable {
  unsigned char v[128];
  constexpr CharClassTable() : v{} {
    for (unsigned c = 0; c < 128; ++c) v[c] = UrlSafe(c) ? CORV_CHAR_URLSAFE : 0;
  }
};
constexpr CharClassTable kClasses;

struct Base64Table {
  unsigned char v[256];
  constexpr Base64Table() : v{} {
    for (unsigned c = 0; c < 256; ++c) v[c] = 0xFF;
    for (unsigned i = 0; i < 64; ++i)
      v[static_cast<unsigned char>("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[i])] =
          static_cast<unsigned char>(i);
  }
};
constexpr Base64Table kBase64Values;

const char kHex[] = "0123456789ABCDEF";
}  // namespace

const unsigned char CorvCharClass[128] = {
#define R(i) kClasses.v[i], kClasses.v[i + 1], kClasses.v[i + 2], kClasses.v[i + 3], \
             kClasses.v[i + 4], kClasses.v[i + 5], kClasses.v[i + 6], kClasses.v[i + 7]
    R(0),  R(8),  R(16), R(24), R(32),  R(40),  R(48),  R(56),
    R(64), R(72), R(80), R(88), R(96), R(104), R(112), R(120),
#undef R
};

const char Base64Alphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

unsigned char Base64Value(unsigned char c) { return kBase64Values.v[c]; }

std::int32_t ParseInt(const char* text) {
  if (!text) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const bool negative = *p == '-';
  if (negative) ++p;
  std::uint32_t value = 0;  // wraps by design
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + (*p - '0');
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

char* SplitAt(char* text, char c) {
  if (!text) return nullptr;
  char* hit = c ? std::strchr(text, c) : nullptr;
  if (!hit) return text + std::strlen(text);
  *hit = 0;
  return hit + 1;
}

int DynStr::AppendURLEncoded(const char* text) {
  if (!text) return CORV_OK;
  const auto* src = reinterpret_cast<const unsigned char*>(text);
  std::uint64_t extra = 0;
  std::size_t n = 0;
  for (; src[n]; ++n) extra += IsURLSafe(src[n]) ? 1 : 3;
  if (extra == 0) return CORV_OK;
  if (m_length + extra > kMaxLength) return CORV_OUT_OF_MEMORY;
  // The text may be part of this string, whose buffer may move while growing.
  const std::int64_t own = m_heap ? OwnOffset(text) : -1;
  const std::uint32_t old = m_length;
  if (int r = Set(static_cast<std::uint32_t>(old + extra)); r != CORV_OK) return r;
  if (own >= 0) src = reinterpret_cast<const unsigned char*>(Text() + own);  // inline never moves
  // Output goes behind the old text, so it never overwrites input still to be read.
  char* out = Text() + old;
  for (std::size_t k = 0; k < n; ++k) {
    const unsigned char c = src[k];
    if (IsURLSafe(c)) {
      *out++ = static_cast<char>(c);
    } else {
      *out++ = '%';
      *out++ = kHex[c >> 4];
      *out++ = kHex[c & 0x0F];
    }
  }
  return CORV_OK;
}

int DynStr::AppendBase64(const void* data, std::uint32_t n) {
  if (n == 0) return CORV_OK;
  const std::uint64_t groups = (std::uint64_t{n} + 2) / 3;
  const std::uint64_t extra = groups * 4 + (groups - 1) / 20 * 2;  // CR LF every 20 groups
  if (m_length + extra > kMaxLength) return CORV_OUT_OF_MEMORY;
  const std::int64_t own = m_heap ? OwnOffset(data) : -1;
  const std::uint32_t old = m_length;
  if (int r = Set(static_cast<std::uint32_t>(old + extra)); r != CORV_OK) return r;
  const auto* in = static_cast<const unsigned char*>(own >= 0 ? Text() + own : data);
  // Output goes behind the old text, so it never overwrites input still to be read.
  char* out = Text() + old;
  for (std::uint32_t taken = 0; taken < n; taken += 3) {
    if (taken != 0 && taken % 60 == 0) {
      *out++ = '\r';
      *out++ = '\n';
    }
    const std::uint32_t left = n - taken;
    const unsigned b0 = in[taken];
    const unsigned b1 = left > 1 ? in[taken + 1] : 0;
    const unsigned b2 = left > 2 ? in[taken + 2] : 0;
    *out++ = Base64Alphabet[b0 >> 2];
    *out++ = Base64Alphabet[((b0 << 4) & 0x30) | (b1 >> 4)];
    *out++ = left > 1 ? Base64Alphabet[((b1 << 2) & 0x3C) | (b2 >> 6)] : '=';
    *out++ = left > 2 ? Base64Alphabet[b2 & 0x3F] : '=';
    if (left <= 3) break;
  }
  return CORV_OK;
}

int DynStr::DecodeBase64() {
  auto* t = reinterpret_cast<unsigned char*>(Text());
  std::uint32_t out = 0;
  unsigned phase = 0;  // characters taken of the current group
  for (std::uint32_t r = 0; r < m_length && t[r] != 0; ++r) {
    const unsigned char c = t[r];
    if (c == '=') {
      if (phase == 1) ++out;  // keeps the incomplete byte
      break;
    }
    const unsigned char v = Base64Value(c);
    if (v == 0xFF) continue;
    // Every write lands at or before the byte just read.
    switch (phase) {
      case 0:
        t[out] = static_cast<unsigned char>(v << 2);
        break;
      case 1:
        t[out] |= v >> 4;
        t[++out] = static_cast<unsigned char>(v << 4);
        break;
      case 2:
        t[out] |= v >> 2;
        t[++out] = static_cast<unsigned char>(v << 6);
        break;
      default:
        t[out++] |= v;
        break;
    }
    phase = (phase + 1) & 3;
  }
  Set(out);  // shrinking never allocates
  return CORV_OK;
}

char* DynStr::SplitHeaderLine() {
  if (m_length == 0) return nullptr;
  char* t = Text();
  if (static_cast<signed char>(t[0]) <= ' ') {
    t[0] = 0;
    return t + 1;
  }
  char* colon = std::strchr(t, ':');
  if (!colon) return t + std::strlen(t);
  *colon = 0;
  return colon[1] == ' ' ? colon + 2 : colon + 1;
}

void CopyCut(char* out, std::size_t room, const char* text) {
  std::size_t n = text ? std::strlen(text) : 0;
  if (n >= room) n = room - 1;
  if (n) std::memcpy(out, text, n);
  out[n] = '\0';
}
