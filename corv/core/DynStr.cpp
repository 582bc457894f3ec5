#include "corv/core/DynStr.h"

#include <cstring>

#include "corv/core/Alloc.h"
#include "corv/core/Errors.h"

namespace {
// The largest capacity whose buffer (capacity + terminator) still has a 32-bit size.
constexpr std::uint64_t kMaxCapacity = 0xFFFFFFFEu;
}  // namespace

DynStrTemplate::DynStrTemplate() : m_heap(nullptr), m_length(0), m_capacity(kInlineCapacity) {
  m_inline[0] = 0;
  m_inline[kInlineCapacity] = 0;
}

DynStrTemplate::~DynStrTemplate() { CorvFree(m_heap); }

void DynStrTemplate::Clear() {
  CorvFree(m_heap);
  m_heap = nullptr;
  m_inline[0] = 0;
  m_length = 0;
  m_capacity = kInlineCapacity;
}

std::int64_t DynStrTemplate::OwnOffset(const void* p) const {
  const auto a = reinterpret_cast<std::uintptr_t>(p);
  const auto b = reinterpret_cast<std::uintptr_t>(Text());
  if (!p || a < b || a > b + m_capacity) return -1;
  return static_cast<std::int64_t>(a - b);
}

int DynStrTemplate::Set(std::uint32_t n, const void* data) {
  if (n <= kInlineCapacity) {
    if (m_heap) {
      std::memmove(m_inline, data ? data : m_heap, n);
      CorvFree(m_heap);
      m_heap = nullptr;
      m_capacity = kInlineCapacity;
    } else if (data) {
      std::memmove(m_inline, data, n);
    }
  } else if (m_heap && n <= m_capacity) {
    if (data) std::memmove(m_heap, data, n);
  } else {
    // The new capacity is committed only once its buffer exists, so a failure leaves the
    // string exactly as it was.
    const std::uint64_t cap = std::uint64_t{n} + n / 2;
    if (cap > kMaxCapacity) return CORV_OUT_OF_MEMORY;
    char* buf;
    if (data || !m_heap) {
      buf = static_cast<char*>(CorvMalloc(cap + 1));
      if (!buf) return CORV_OUT_OF_MEMORY;
      // data may lie in the old buffer: copy before releasing it.
      if (data)
        std::memcpy(buf, data, n);
      else
        std::memcpy(buf, m_inline, m_length);
      CorvFree(m_heap);
    } else {
      buf = static_cast<char*>(CorvRealloc(m_heap, cap + 1));
      if (!buf) return CORV_OUT_OF_MEMORY;
    }
    m_heap = buf;
    m_capacity = static_cast<std::uint32_t>(cap);
  }
  Text()[n] = 0;
  m_length = n;
  return CORV_OK;
}

int DynStrTemplate::SetText(const char* text) {
  if (!text) text = "";
  const std::size_t n = std::strlen(text);
  if (n > kMaxCapacity) return CORV_OUT_OF_MEMORY;
  return Set(static_cast<std::uint32_t>(n), text);
}

int DynStrTemplate::Append(const void* data, std::uint32_t n) {
  if (n == 0) return CORV_OK;
  const std::uint64_t total = std::uint64_t{m_length} + n;
  if (total > kMaxCapacity) return CORV_OUT_OF_MEMORY;
  // Growing may move a heap text; the inline buffer never moves.
  const std::int64_t off = m_heap ? OwnOffset(data) : -1;
  const std::uint32_t old = m_length;
  if (int r = Set(static_cast<std::uint32_t>(total)); r != CORV_OK) return r;
  const char* src = off >= 0 ? Text() + off : static_cast<const char*>(data);
  std::memmove(Text() + old, src, n);
  Text()[total] = 0;
  return CORV_OK;
}

int DynStrTemplate::Append(const char* text) {
  if (!text) return CORV_OK;
  const std::size_t n = std::strlen(text);
  if (n > kMaxCapacity) return CORV_OUT_OF_MEMORY;
  return Append(text, static_cast<std::uint32_t>(n));
}

int DynStr::EnsureTrailingCRLF() {
  const char* t = Text();
  std::uint32_t k = m_length;
  while (k > 0 && t[k - 1] == '\n') {
    --k;
    if (k > 0 && t[k - 1] == '\r') {
      --k;
    } else {
      break;
    }
  }
  // Either way the text ends up as its first k bytes and CR LF; one resize does it all, so
  // a failure leaves the text untouched.
  if (std::uint64_t{k} + 2 > kMaxCapacity) return CORV_OUT_OF_MEMORY;
  if (int r = Set(k + 2); r != CORV_OK) return r;
  Text()[k] = '\r';
  Text()[k + 1] = '\n';
  return CORV_OK;
}
