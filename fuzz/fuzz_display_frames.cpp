// The display simulator's frame decoder on a hostile serial line, fed in fuzz-chosen pieces;
// then the program's own framing of the same bytes as a payload, which the decoder must read
// back as exactly that payload.
// Flags: the piece size (low 7 bits, 0: all at once).
#include <algorithm>
#include <cstring>
#include <vector>

#include "app/evtavek232.h"
#include "tools/display-sim/frame_decoder.h"

#define EXPECT(c) \
  if (!(c)) __builtin_trap()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = data[0] & 0x7F;
  const std::uint8_t* bytes = data + 1;
  const std::size_t n = size - 1;

  displaysim::FrameDecoder line;
  std::vector<displaysim::Event> events;
  for (std::size_t at = 0; at < n;) {
    const std::size_t k = piece ? std::min(piece, n - at) : n - at;
    line.Feed(bytes + at, k, &events);
    at += k;
  }
  line.Flush(&events);
  std::size_t consumed = 0;
  for (const auto& e : events) {
    consumed += e.wire.size();
    EXPECT(e.ok == e.error.empty());
    if (e.ok) EXPECT(!displaysim::Describe(e.payload).empty());
    (void)displaysim::Hex(e.wire);
  }
  EXPECT(consumed <= n);

  const int payload = static_cast<int>(std::min<std::size_t>(n, EV_TAVEK_232_MAX_PAYLOAD));
  if (payload == 0) return 0;
  unsigned char frame[EV_TAVEK_232_MAX_BUF_SIZE_POST];
  std::memcpy(frame, bytes, payload);
  int length = payload;
  EXPECT(AddLengthAndChecksum(frame, &length) && StuffBytes(frame, &length));
  displaysim::FrameDecoder display;
  std::vector<displaysim::Event> got;
  const std::size_t cut = piece % (length + 1);
  display.Feed(frame, cut, &got);
  display.Feed(frame + cut, length - cut, &got);
  display.Flush(&got);
  EXPECT(got.size() == 1 && got[0].ok);
  EXPECT(got[0].payload == std::vector<std::uint8_t>(bytes, bytes + payload));
  EXPECT(got[0].wire == std::vector<std::uint8_t>(frame, frame + length));
  return 0;
}
