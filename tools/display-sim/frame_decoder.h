// Decoder for the display's serial frames: start byte 0xAA, then, stuffed (0xAA as 80 00,
// 0x80 as 80 01), a big-endian length of 1..1024, the payload and a checksum that makes the
// unstuffed bytes from the length to the checksum add up to 0xFF.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace displaysim {

struct Event {
  bool ok = false;                // a whole, valid frame
  std::vector<std::uint8_t> payload;  // when ok
  std::vector<std::uint8_t> wire;     // the bytes this event consumed, as they came
  std::string error;              // when not ok
};

class FrameDecoder {
 public:
  static constexpr std::uint8_t kStart = 0xAA;
  static constexpr std::uint8_t kEscape = 0x80;
  static constexpr std::size_t kMaxPayload = 1024;

  // Decodes what the bytes complete; a frame may span any number of calls.
  void Feed(const std::uint8_t* bytes, std::size_t n, std::vector<Event>* out);
  // Reports a frame still in progress (the line went quiet or closed) and starts afresh.
  void Flush(std::vector<Event>* out);

 private:
  void Fail(std::string message, std::vector<Event>* out);
  void Accept(std::uint8_t byte, std::vector<Event>* out);

  bool inFrame_ = false;
  bool escaped_ = false;
  std::vector<std::uint8_t> wire_;
  std::vector<std::uint8_t> body_;  // unstuffed: length, payload, checksum
  std::size_t expected_ = 0;        // body size once the length is known
};

// What the display shows for a payload: "price 23.45 up" for the six-byte price packet,
// "value 128" for a one-byte test value, "data of n bytes" otherwise. Bad digits or direction
// codes are named in the text.
std::string Describe(const std::vector<std::uint8_t>& payload);
std::string Hex(const std::vector<std::uint8_t>& bytes);

}  // namespace displaysim
