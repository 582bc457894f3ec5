#include "corv/core/LineFIFO.h"

#include <cstring>

#include "corv/core/Alloc.h"

namespace {
constexpr std::uint32_t kNotFound = 0xFFFFFFFFu;

std::uint32_t FindOffset(const char* data, std::uint32_t count, const char* eol, std::uint32_t eolLength) {
  if (eolLength == 0 || eolLength > count) return kNotFound;
  const std::uint32_t last = count - eolLength;
  std::uint32_t i = 0;
  while (i <= last) {
    const void* hit = std::memchr(data + i, eol[0], last - i + 1);
    if (!hit) break;
    i = static_cast<std::uint32_t>(static_cast<const char*>(hit) - data);
    if (std::memcmp(data + i, eol, eolLength) == 0) return i;
    ++i;
  }
  return kNotFound;
}
}  // namespace

bool LineFIFO::Init() {
  m_storage = nullptr;
  m_capacity = 0;
  m_start = 0;
  m_count = 0;
  m_eol = nullptr;
  m_eolLength = 0;
  m_scanState[0] = m_scanState[1] = 0;
  return true;
}

bool LineFIFO::SetSize(std::uint32_t n) {
  if (m_storage && n == m_capacity) {
    m_start = m_count = 0;
    return true;
  }
  CorvFree(m_storage);
  m_storage = nullptr;
  m_start = m_count = m_capacity = 0;
  if (n == 0xFFFFFFFFu) return false;  // n + 1 bytes would not have a 32-bit size
  m_storage = static_cast<char*>(CorvMalloc(std::size_t{n} + 1));
  if (!m_storage) return false;
  m_storage[n] = 0;
  m_capacity = n;
  return true;
}

bool LineFIFO::Free() {
  CorvFree(m_storage);
  CorvFree(m_eol);
  m_storage = nullptr;
  m_eol = nullptr;
  m_capacity = m_start = m_count = 0;
  m_eolLength = 0;
  return true;
}

bool LineFIFO::SetEOL(const void* eol, std::uint16_t length) {
  // The new text may be the old copy itself.
  char* old = m_eol;
  m_eol = nullptr;
  m_eolLength = 0;
  bool ok = true;
  if (length != 0 && eol) {
    char* copy = static_cast<char*>(CorvMalloc(std::size_t{length} + 1));
    if (copy) {
      std::memcpy(copy, eol, length);
      copy[length] = 0;
      m_eol = copy;
      m_eolLength = length;
    } else {
      ok = false;
    }
  }
  CorvFree(old);
  return ok;
}

bool LineFIFO::SetEOL(const char* eol) {
  const std::size_t n = eol ? std::strlen(eol) : 0;
  if (n > 0xFFFF) return false;
  return SetEOL(eol, static_cast<std::uint16_t>(n));
}

int LineFIFO::Compact() {
  if (m_start != 0) {
    if (m_count) std::memmove(m_storage, m_storage + m_start, m_count);
    m_start = 0;
  }
  return 0;
}

bool LineFIFO::Put(const void* data, std::uint32_t n) {
  if (n > m_capacity - m_count) return false;
  if (n == 0) return true;
  const char* src = static_cast<const char*>(data);
  char* temp = nullptr;
  if (n > m_capacity - m_count - m_start) {
    // Compaction rewrites the front of the storage: bytes pushed back from there (a line
    // just taken, say) are set aside first.
    const auto a = reinterpret_cast<std::uintptr_t>(src);
    const auto b = reinterpret_cast<std::uintptr_t>(m_storage);
    if (a + n > b && a < b + m_capacity + 1) {
      temp = static_cast<char*>(CorvMalloc(n));
      if (!temp) return false;
      std::memcpy(temp, src, n);
      src = temp;
    }
    Compact();
  }
  std::memmove(m_storage + m_start + m_count, src, n);
  m_count += n;
  CorvFree(temp);
  return true;
}

bool LineFIFO::GetFreeBlock(char** block, std::uint32_t* size) {
  const std::uint32_t wanted = *size;
  if (m_count == m_capacity) {
    Compact();
    *block = m_storage ? m_storage + m_count : nullptr;
    *size = 0;
    return false;
  }
  const std::uint32_t free = m_capacity - m_count;
  // "Any size" means at least one byte: an empty back with room at the front compacts.
  if (wanted > free - m_start || free == m_start) Compact();
  *block = m_storage + m_start + m_count;
  *size = m_capacity - m_count - m_start;
  return *size != 0 && wanted <= *size;
}

bool LineFIFO::Commit(std::uint32_t n) {
  if (n > m_capacity - m_count || n > m_capacity - m_count - m_start) return false;
  m_count += n;
  return true;
}

bool LineFIFO::NextLine(char** line, std::uint32_t* length) {
  if (!m_eol) return TakeAll(line, length);
  const std::uint32_t i = m_storage ? FindOffset(m_storage + m_start, m_count, m_eol, m_eolLength) : kNotFound;
  if (i == kNotFound) {
    Compact();
    *line = nullptr;
    *length = 0;
    return false;
  }
  *line = m_storage + m_start;
  *length = i;
  m_start += i + m_eolLength;
  m_count -= i + m_eolLength;
  return true;
}

bool LineFIFO::TakeAll(char** data, std::uint32_t* length) {
  if (m_count == 0) {
    static char empty[1] = {0};
    *data = empty;
    *length = 0;
    return false;
  }
  *data = m_storage + m_start;
  *length = m_count;
  m_count = 0;
  m_start = 0;
  return true;
}

char* LineFIFO::Renew() {
  if (!m_storage) return nullptr;
  char* fresh = static_cast<char*>(CorvMalloc(std::size_t{m_capacity} + 1));
  if (!fresh) return nullptr;
  if (m_count) std::memcpy(fresh, m_storage + m_start, m_count);
  fresh[m_capacity] = 0;
  char* old = m_storage;
  m_storage = fresh;
  m_start = 0;
  return old;
}

std::int32_t LineFIFO::Find(const char* data, std::uint32_t count, const char* eol, std::uint32_t eolLength) {
  const std::uint32_t i = FindOffset(data, count, eol, eolLength);
  return i == kNotFound || i > 0x7FFFFFFFu ? -1 : static_cast<std::int32_t>(i);
}
