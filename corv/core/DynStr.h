// The engine string: a growable byte string that keeps texts of up to 99 bytes inside the
// object and moves to the heap only for longer ones. Any byte may occur; the text is always
// followed by a zero byte, so it also reads as a NUL-terminated text. Allocation failure is
// result 200, never an exception.
#pragma once
#include <cstdint>

class DynStrTemplate {
 public:
  static constexpr std::uint32_t kInlineCapacity = 99;

  DynStrTemplate();
  ~DynStrTemplate();
  DynStrTemplate(const DynStrTemplate&) = delete;
  DynStrTemplate& operator=(const DynStrTemplate&) = delete;

  // Sets the length to n. With data the text becomes those n bytes (data may point into the
  // string's own text); without, the first n bytes are kept and any bytes beyond the old
  // length are undefined until written. Returns 0, or 200 with the string unchanged.
  int Set(std::uint32_t n, const void* data = nullptr);
  // Set from a NUL-terminated text; null counts as "".
  int SetText(const char* text);
  // Appends n bytes (data may point into the string's own text). 0 or 200, unchanged.
  int Append(const void* data, std::uint32_t n);
  // Appends a NUL-terminated text; null counts as "".
  int Append(const char* text);
  // Releases the heap buffer; the string is empty with capacity 99.
  void Clear();

  char* Text() { return m_heap ? m_heap : m_inline; }
  const char* Text() const { return m_heap ? m_heap : m_inline; }
  std::uint32_t Length() const { return m_length; }
  // Bytes the current buffer holds without the terminator.
  std::uint32_t Capacity() const { return m_capacity; }
  bool IsEmpty() const { return m_length == 0; }
  bool OnHeap() const { return m_heap != nullptr; }

 protected:
  // Offset of p in the current buffer (terminator included), or -1 when p lies outside it.
  std::int64_t OwnOffset(const void* p) const;

  char m_inline[kInlineCapacity + 1];
  char* m_heap;
  std::uint32_t m_length;
  std::uint32_t m_capacity;
};

class DynStr : public DynStrTemplate {
 public:
  // Ends the text with exactly one CR LF: trailing CR LF pairs and one bare LF after other
  // text go, a bare CR stays. 0 or 200, unchanged.
  int EnsureTrailingCRLF();
  // Appends the text percent-encoded: bytes outside * - . 0-9 @ A-Z _ a-z become "%XX".
  // 0 or 200 (nothing appended).
  int AppendURLEncoded(const char* text);
  // Appends the base64 form of n bytes, CR LF before every further 60 input bytes. 0 or 200.
  int AppendBase64(const void* data, std::uint32_t n);
  // Decodes the own text in place; skips bytes outside the alphabet, stops at "=". Returns 0.
  int DecodeBase64();
  // Splits a header line in place and returns the value: after "name:" and one blank, or,
  // for a continuation line (first byte blank, control or 8-bit), the text after its first
  // byte; the text itself then reads as the name. Null for an empty string.
  char* SplitHeaderLine();
};
