// Reads what an engine hands out, so the sanitizers see any text that is not what it claims.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzzpeer {

inline void Touch(const void* data, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  unsigned char sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum = static_cast<unsigned char>(sum + p[i]);
  asm volatile("" : : "r"(sum));
}

// A text must be there and end with a NUL.
inline void Touch(const char* text) {
  if (!text) __builtin_trap();
  Touch(text, std::strlen(text) + 1);
}

}  // namespace fuzzpeer
