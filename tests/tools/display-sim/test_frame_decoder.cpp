#include <gtest/gtest.h>

#include <vector>

#include "tools/display-sim/frame_decoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using displaysim::Event;
using displaysim::FrameDecoder;

std::vector<Event> Decode(const Bytes& wire, std::size_t chunk = 0) {
  FrameDecoder d;
  std::vector<Event> out;
  if (chunk == 0) chunk = wire.size() == 0 ? 1 : wire.size();
  for (std::size_t i = 0; i < wire.size(); i += chunk) {
    d.Feed(wire.data() + i, std::min(chunk, wire.size() - i), &out);
  }
  d.Flush(&out);
  return out;
}

TEST(FrameDecoder, PricePacketInAnyChunking) {
  const Bytes wire = {0xAA, 0x00, 0x06, 0x02, 0x00, 0x02, 0x03, 0x04, 0x05, 0xE9};
  for (std::size_t chunk : {1u, 3u, 10u}) {
    const auto events = Decode(wire, chunk);
    ASSERT_EQ(events.size(), 1u) << chunk;
    EXPECT_TRUE(events[0].ok) << events[0].error;
    EXPECT_EQ(events[0].payload, (Bytes{0x02, 0x00, 0x02, 0x03, 0x04, 0x05}));
    EXPECT_EQ(events[0].wire, wire);
    EXPECT_EQ(displaysim::Describe(events[0].payload), "price 23.45 up");
  }
}

TEST(FrameDecoder, UnstuffsPayloadLengthAndChecksum) {
  // 0x80 as a payload byte; the checksum of 0x7E is 0x80 and is stuffed too.
  auto e = Decode({0xAA, 0x00, 0x01, 0x80, 0x01, 0x7E});
  ASSERT_EQ(e.size(), 1u);
  ASSERT_TRUE(e[0].ok) << e[0].error;
  EXPECT_EQ(e[0].payload, Bytes{0x80});
  EXPECT_EQ(displaysim::Describe(e[0].payload), "value 128");
  e = Decode({0xAA, 0x00, 0x01, 0x7E, 0x80, 0x01});
  ASSERT_EQ(e.size(), 1u);
  EXPECT_TRUE(e[0].ok) << e[0].error;

  // 1024 bytes of 0xAA: a length of 04 00 and a checksum of FB.
  Bytes wire = {0xAA, 0x04, 0x00};
  for (int i = 0; i < 1024; ++i) {
    wire.push_back(0x80);
    wire.push_back(0x00);
  }
  wire.push_back(0xFB);
  e = Decode(wire, 7);
  ASSERT_EQ(e.size(), 1u);
  ASSERT_TRUE(e[0].ok) << e[0].error;
  EXPECT_EQ(e[0].payload, Bytes(1024, 0xAA));
  EXPECT_EQ(displaysim::Describe(e[0].payload), "data of 1024 bytes");
}

TEST(FrameDecoder, NamesWhatIsWrong) {
  auto e = Decode({0xAA, 0x00, 0x06, 0x02, 0x00, 0x02, 0x03, 0x04, 0x05, 0xE8});
  ASSERT_EQ(e.size(), 1u);
  EXPECT_FALSE(e[0].ok);
  EXPECT_EQ(e[0].error, "bad checksum: got E8, expected E9");

  e = Decode({0xAA, 0x00, 0x00, 0xFF});
  ASSERT_GE(e.size(), 1u);
  EXPECT_EQ(e[0].error, "bad length 0 (must be 1 to 1024)");
  e = Decode({0xAA, 0x04, 0x01});
  ASSERT_GE(e.size(), 1u);
  EXPECT_EQ(e[0].error, "bad length 1025 (must be 1 to 1024)");

  e = Decode({0xAA, 0x00, 0x01, 0x80, 0x02, 0x7E});
  ASSERT_GE(e.size(), 1u);
  EXPECT_EQ(e[0].error, "bad stuffing: 80 followed by 02");

  // A raw start byte inside a frame cuts it short; the new frame still decodes.
  e = Decode({0xAA, 0x00, 0x01, 0xAA, 0x00, 0x01, 0x80, 0x01, 0x7E});
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].error, "frame cut short after 3 bytes");
  EXPECT_TRUE(e[1].ok);

  // Bytes before any start byte are reported, then the frame decodes.
  e = Decode({0x41, 0x42, 0xAA, 0x00, 0x01, 0x80, 0x01, 0x7E});
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].error, "2 bytes outside a frame");
  EXPECT_EQ(e[0].wire, (Bytes{0x41, 0x42}));
  EXPECT_TRUE(e[1].ok);

  // A line that ends mid-frame.
  e = Decode({0xAA, 0x00, 0x06, 0x02});
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].error, "frame cut short after 4 bytes");
}

TEST(FrameDecoder, DescribesEveryDirectionAndRejectsBadDigits) {
  EXPECT_EQ(displaysim::Describe({0, 1, 2, 3, 4, 5}), "price 123.45 down");
  EXPECT_EQ(displaysim::Describe({1, 0, 0, 1, 5, 0}), "price 1.50 unchanged");
  EXPECT_EQ(displaysim::Describe({1, 0, 0, 0, 0, 0}), "price 0.00 unchanged");
  EXPECT_EQ(displaysim::Describe({3, 0, 10, 0, 0, 0}), "bad price packet: digit 2 is 10; direction code 3");
}

}  // namespace
