// A list of byte strings kept back to back in one engine string. Each entry is stored as a
// 3-byte big-endian length, its bytes and a zero byte, so an entry takes length + 4 bytes.
#pragma once
#include <cstdint>

#include "corv/core/DynStr.h"

class DynStrSeq {
 public:
  // Entries are shorter than 2^24 bytes; longer ones are refused with 200.
  static constexpr std::uint32_t kMaxEntry = 0xFFFFFF;

  DynStrSeq() = default;
  DynStrSeq(const DynStrSeq&) = delete;
  DynStrSeq& operator=(const DynStrSeq&) = delete;

  std::uint32_t Count() const { return m_count; }
  // The i-th entry, zero-terminated; "" when i >= Count().
  const char* Get(std::uint32_t i) const;
  // Its length; 0 when i >= Count().
  std::uint32_t GetLength(std::uint32_t i) const;
  // Appends a NUL-terminated text (null counts as ""). 0 or 200, unchanged.
  int Append(const char* text);
  // Appends n bytes (data may point into this list). 0 or 200, unchanged.
  int AppendData(const void* data, std::uint32_t n);
  // Replaces entry i with a NUL-terminated text (null counts as "").
  int Set(std::uint32_t i, const char* text);
  // Replaces entry i with n bytes (data may point into this list). 432 when i >= Count(),
  // 200 when memory cannot be had; either leaves the list unchanged.
  int SetAt(std::uint32_t i, const void* data, std::uint32_t n);
  // Cuts the list to n entries, or appends empty ones up to n (all of them, or none and 200).
  int SetCount(std::uint32_t n);
  // Empties the list and releases its buffer.
  void Clear();

  // The stored entries, back to back.
  const DynStr& Buffer() const { return m_entries; }

 private:
  // Offset of entry i's length field; i may equal Count() (the end). Walks from the entry
  // looked up last when i is not before it, so reading the entries in order costs constant
  // time each.
  std::uint32_t Offset(std::uint32_t i) const;
  std::uint32_t LengthAt(std::uint32_t offset) const;
  void Remember(std::uint32_t i, std::uint32_t offset) const;

  std::uint32_t m_count = 0;
  DynStr m_entries;
  // The last entry looked up and its offset; the index never exceeds the count.
  mutable std::uint32_t m_lastIndex = 0;
  mutable std::uint32_t m_lastOffset = 0;
};
