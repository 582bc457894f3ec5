#include "corv/core/DynStrSeq.h"

#include <cstring>

#include "corv/core/Alloc.h"
#include "corv/core/Errors.h"

namespace {
constexpr std::uint64_t kMaxBuffer = 0xFFFFFFFEu;

void PutLength(char* p, std::uint32_t n) {
  p[0] = static_cast<char>((n >> 16) & 0xFF);
  p[1] = static_cast<char>((n >> 8) & 0xFF);
  p[2] = static_cast<char>(n & 0xFF);
}

// Offset of p in [base, base + size), or -1.
std::int64_t OffsetIn(const void* p, const char* base, std::uint32_t size) {
  const auto a = reinterpret_cast<std::uintptr_t>(p);
  const auto b = reinterpret_cast<std::uintptr_t>(base);
  if (!p || a < b || a >= b + size) return -1;
  return static_cast<std::int64_t>(a - b);
}
}  // namespace

std::uint32_t DynStrSeq::LengthAt(std::uint32_t offset) const {
  const auto* p = reinterpret_cast<const unsigned char*>(m_entries.Text()) + offset;
  return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

std::uint32_t DynStrSeq::Offset(std::uint32_t i) const {
  std::uint32_t k = 0;
  std::uint32_t off = 0;
  if (m_lastIndex <= i) {
    k = m_lastIndex;
    off = m_lastOffset;
  }
  for (; k < i; ++k) off += LengthAt(off) + 4;
  Remember(i, off);
  return off;
}

void DynStrSeq::Remember(std::uint32_t i, std::uint32_t offset) const {
  m_lastIndex = i;
  m_lastOffset = offset;
}

const char* DynStrSeq::Get(std::uint32_t i) const {
  if (i >= m_count) return "";
  return m_entries.Text() + Offset(i) + 3;
}

std::uint32_t DynStrSeq::GetLength(std::uint32_t i) const {
  if (i >= m_count) return 0;
  return LengthAt(Offset(i));
}

int DynStrSeq::Append(const char* text) {
  if (!text) text = "";
  const std::size_t n = std::strlen(text);
  if (n > kMaxEntry) return CORV_OUT_OF_MEMORY;
  return AppendData(text, static_cast<std::uint32_t>(n));
}

int DynStrSeq::AppendData(const void* data, std::uint32_t n) {
  if (n > kMaxEntry) return CORV_OUT_OF_MEMORY;
  const std::uint32_t old = m_entries.Length();
  if (std::uint64_t{old} + n + 4 > kMaxBuffer) return CORV_OUT_OF_MEMORY;
  // Growing may move the buffer that data points into.
  const std::int64_t own = n ? OffsetIn(data, m_entries.Text(), old + 1) : -1;
  if (int r = m_entries.Set(old + n + 4); r != CORV_OK) return r;
  char* t = m_entries.Text();
  PutLength(t + old, n);
  if (n) std::memmove(t + old + 3, own >= 0 ? t + own : static_cast<const char*>(data), n);
  t[old + 3 + n] = 0;
  ++m_count;
  return CORV_OK;
}

int DynStrSeq::Set(std::uint32_t i, const char* text) {
  if (!text) text = "";
  if (i >= m_count) return CORV_INDEX_RANGE;
  const std::size_t n = std::strlen(text);
  if (n > kMaxEntry) return CORV_OUT_OF_MEMORY;
  return SetAt(i, text, static_cast<std::uint32_t>(n));
}

int DynStrSeq::SetAt(std::uint32_t i, const void* data, std::uint32_t n) {
  if (i >= m_count) return CORV_INDEX_RANGE;
  if (n > kMaxEntry) return CORV_OUT_OF_MEMORY;
  const std::uint32_t total = m_entries.Length();
  const std::uint32_t b = Offset(i);
  const std::uint32_t L = LengthAt(b);
  if (std::uint64_t{total} - L + n > kMaxBuffer) return CORV_OUT_OF_MEMORY;

  // Entries move below: a source inside the list is set aside first.
  const char* src = static_cast<const char*>(data);
  char* temp = nullptr;
  if (n && OffsetIn(data, m_entries.Text(), total + 1) >= 0) {
    temp = static_cast<char*>(CorvMalloc(n));
    if (!temp) return CORV_OUT_OF_MEMORY;
    std::memcpy(temp, src, n);
    src = temp;
  }
  if (L < n) {
    if (int r = m_entries.Set(total + (n - L)); r != CORV_OK) {
      CorvFree(temp);
      return r;
    }
  }
  char* t = m_entries.Text();
  const std::uint32_t tail = b + L + 4;
  if (tail < total) std::memmove(t + b + n + 4, t + tail, total - tail);
  if (n < L) m_entries.Set(total - (L - n));  // shrinking never allocates
  Remember(i, b);  // entries after i have moved
  t = m_entries.Text();
  PutLength(t + b, n);
  if (n) std::memcpy(t + b + 3, src, n);
  t[b + 3 + n] = 0;
  CorvFree(temp);
  return CORV_OK;
}

int DynStrSeq::SetCount(std::uint32_t n) {
  if (n == m_count) return CORV_OK;
  if (n < m_count) {
    m_entries.Set(Offset(n));  // remembers n, which stays valid as the end
    m_count = n;
    return CORV_OK;
  }
  // Empty entries are four zero bytes each; one growth adds them all or none.
  const std::uint32_t old = m_entries.Length();
  const std::uint64_t total = std::uint64_t{old} + std::uint64_t{n - m_count} * 4;
  if (total > kMaxBuffer) return CORV_OUT_OF_MEMORY;
  if (int r = m_entries.Set(static_cast<std::uint32_t>(total)); r != CORV_OK) return r;
  std::memset(m_entries.Text() + old, 0, total - old);
  m_count = n;
  return CORV_OK;
}

void DynStrSeq::Clear() {
  m_entries.Clear();
  m_count = 0;
  Remember(0, 0);
}
