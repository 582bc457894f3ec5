#include "tools/display-sim/frame_decoder.h"

#include <cstdio>

namespace displaysim {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  char b[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += b;
  }
  return out;
}

void FrameDecoder::Fail(std::string message, std::vector<Event>* out) {
  Event e;
  e.error = std::move(message);
  e.wire = std::move(wire_);
  out->push_back(std::move(e));
  wire_.clear();
  body_.clear();
  inFrame_ = false;
  escaped_ = false;
  expected_ = 0;
}

void FrameDecoder::Flush(std::vector<Event>* out) {
  if (!wire_.empty()) {
    Fail(inFrame_ ? "frame cut short after " + std::to_string(wire_.size()) + " bytes"
                  : std::to_string(wire_.size()) + " bytes outside a frame",
         out);
  }
}

void FrameDecoder::Feed(const std::uint8_t* bytes, std::size_t n, std::vector<Event>* out) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t c = bytes[i];
    if (c == kStart) {
      // A start byte is never stuffed, so it always begins a new frame.
      Flush(out);
      inFrame_ = true;
      wire_.push_back(c);
      continue;
    }
    wire_.push_back(c);
    if (!inFrame_) continue;  // noise; reported as a whole at the next start or flush
    if (escaped_) {
      escaped_ = false;
      if (c == 0x00) {
        Accept(kStart, out);
      } else if (c == 0x01) {
        Accept(kEscape, out);
      } else {
        char m[64];
        std::snprintf(m, sizeof m, "bad stuffing: 80 followed by %02X", c);
        Fail(m, out);
      }
      continue;
    }
    if (c == kEscape) {
      escaped_ = true;
      continue;
    }
    Accept(c, out);
  }
}

void FrameDecoder::Accept(std::uint8_t byte, std::vector<Event>* out) {
  body_.push_back(byte);
  if (body_.size() == 2) {
    const std::size_t length = (static_cast<std::size_t>(body_[0]) << 8) | body_[1];
    if (length == 0 || length > kMaxPayload) {
      Fail("bad length " + std::to_string(length) + " (must be 1 to 1024)", out);
      return;
    }
    expected_ = length + 3;
  }
  if (expected_ == 0 || body_.size() < expected_) return;
  unsigned sum = 0;
  for (std::uint8_t b : body_) sum += b;
  if ((sum & 0xFF) != 0xFF) {
    unsigned partial = 0;
    for (std::size_t i = 0; i + 1 < body_.size(); ++i) partial += body_[i];
    char m[80];
    std::snprintf(m, sizeof m, "bad checksum: got %02X, expected %02X", body_.back(), (0xFF - partial) & 0xFF);
    Fail(m, out);
    return;
  }
  Event e;
  e.ok = true;
  e.payload.assign(body_.begin() + 2, body_.end() - 1);
  e.wire = std::move(wire_);
  out->push_back(std::move(e));
  wire_.clear();
  body_.clear();
  inFrame_ = false;
  expected_ = 0;
}

std::string Describe(const std::vector<std::uint8_t>& payload) {
  if (payload.size() == 1) return "value " + std::to_string(payload[0]);
  if (payload.size() != 6) return "data of " + std::to_string(payload.size()) + " bytes";
  std::string problems;
  for (std::size_t i = 1; i < 6; ++i) {
    if (payload[i] > 9) problems += " digit " + std::to_string(i) + " is " + std::to_string(payload[i]) + ";";
  }
  static const char* const kDirections[] = {"down", "unchanged", "up"};
  if (payload[0] > 2) problems += " direction code " + std::to_string(payload[0]) + ";";
  if (!problems.empty()) {
    problems.pop_back();
    return "bad price packet:" + problems;
  }
  const int whole = payload[1] * 100 + payload[2] * 10 + payload[3];
  return "price " + std::to_string(whole) + "." + std::to_string(payload[4]) + std::to_string(payload[5]) + " " +
         kDirections[payload[0]];
}

}  // namespace displaysim
