// Receive buffer of a socket port: a fixed-size byte buffer that data is received into
// directly and taken out of as lines cut at a settable end-of-line string, or as raw blocks
// when no end-of-line string is set. It never grows and never blocks.
#pragma once
#include <cstdint>

// Owns a block of storage and its usable size.
class CMemWrap {
 public:
  CMemWrap() = default;
  CMemWrap(const CMemWrap&) = delete;
  CMemWrap& operator=(const CMemWrap&) = delete;

  char* Storage() const { return m_storage; }
  std::uint32_t Capacity() const { return m_capacity; }

 protected:
  char* m_storage = nullptr;  // capacity + 1 bytes, or null
  std::uint32_t m_capacity = 0;
};

class LineFIFO : public CMemWrap {
 public:
  static constexpr std::uint32_t kDefaultSize = 2048;

  LineFIFO() { Init(); }
  ~LineFIFO() { Free(); }

  // All fields 0, no storage (does not free: for a fresh object).
  bool Init();
  // Same size with storage present: only empties it. Otherwise replaces the storage with
  // n usable bytes; false when that cannot be allocated (the buffer then has none).
  bool SetSize(std::uint32_t n);
  // Frees storage and terminator; safe to call repeatedly.
  bool Free();
  // Sets the end-of-line string; length 0 selects raw mode. False when the copy cannot be
  // allocated, which leaves raw mode.
  bool SetEOL(const void* eol, std::uint16_t length);
  bool SetEOL(const char* eol);
  // Appends n bytes behind the held ones, compacting when the back is too short. Stores
  // nothing and returns false when they do not fit. data may point into the storage.
  bool Put(const void* data, std::uint32_t n);
  // Moves the held bytes to the start of the storage. Returns 0.
  int Compact();
  // Gives the room behind the held bytes for a direct receive. *size in: the least room
  // wanted (0 = any); out: the room. Compacts when the back is too short. False when
  // that room is empty or still too short.
  bool GetFreeBlock(char** block, std::uint32_t* size);
  // Counts n bytes written into the block from GetFreeBlock as held. False, unchanged,
  // when they do not fit there.
  bool Commit(std::uint32_t n);
  // Next line without its terminator (a pointer into the storage); in raw mode everything
  // held. Without a complete line: compacts, gives null and 0, returns false.
  bool NextLine(char** line, std::uint32_t* length);
  // Everything held, emptying the buffer; the pointer stays valid until the next write.
  // With nothing held: "" and 0, false.
  bool TakeAll(char** data, std::uint32_t* length);
  // Moves the held bytes to new storage of the same size and gives the old storage to the
  // caller, who frees it: lines and blocks taken from it stay as they are. Null, and nothing
  // changed, without storage or memory.
  char* Renew();
  // Offset of the first occurrence of eol in data[0..count), or -1.
  static std::int32_t Find(const char* data, std::uint32_t count, const char* eol, std::uint32_t eolLength);

  std::uint32_t Start() const { return m_start; }
  std::uint32_t Count() const { return m_count; }
  // The held bytes.
  char* Data() const { return m_storage ? m_storage + m_start : nullptr; }
  const char* EOL() const { return m_eol; }
  std::uint16_t EOLLength() const { return m_eolLength; }
  bool IsRaw() const { return m_eol == nullptr; }

 private:
  std::uint32_t m_start;
  std::uint32_t m_count;
  char* m_eol;  // NUL-terminated copy, or null for raw mode
  std::uint16_t m_eolLength;
  std::uint8_t m_scanState[2];  // second splitting mode, never switched on: stays 0
};
