#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "corv/core/Alloc.h"
#include "corv/core/LineFIFO.h"

using corv::test::AllocFailureScope;

namespace {
bool PutText(LineFIFO& f, const std::string& s) { return f.Put(s.data(), static_cast<std::uint32_t>(s.size())); }

std::string Held(const LineFIFO& f) { return std::string(f.Data(), f.Count()); }

// Receives `s` the way a port does: straight into the free block, then commit.
bool Receive(LineFIFO& f, const std::string& s) {
  char* block = nullptr;
  std::uint32_t size = 0;
  if (!f.GetFreeBlock(&block, &size) || size < s.size()) return false;
  std::memcpy(block, s.data(), s.size());
  return f.Commit(static_cast<std::uint32_t>(s.size()));
}

std::vector<std::string> Lines(LineFIFO& f) {
  std::vector<std::string> out;
  char* line;
  std::uint32_t n;
  while (f.NextLine(&line, &n)) out.emplace_back(line, n);
  return out;
}
}  // namespace

TEST(LineFIFO, StartsEmptyAndSizes) {
  LineFIFO f;
  EXPECT_EQ(f.Storage(), nullptr);
  EXPECT_EQ(f.Capacity(), 0u);
  EXPECT_TRUE(f.IsRaw());
  EXPECT_FALSE(f.Put("x", 1));

  ASSERT_TRUE(f.SetSize(LineFIFO::kDefaultSize));
  EXPECT_EQ(f.Capacity(), 2048u);
  ASSERT_TRUE(PutText(f, "held"));
  char* storage = f.Storage();
  ASSERT_TRUE(f.SetSize(2048));  // same size: storage kept, emptied
  EXPECT_EQ(f.Storage(), storage);
  EXPECT_EQ(f.Count(), 0u);
  ASSERT_TRUE(f.SetSize(16));
  EXPECT_EQ(f.Capacity(), 16u);

  {
    AllocFailureScope fail(0, 1);
    EXPECT_FALSE(f.SetSize(64));
  }
  EXPECT_EQ(f.Storage(), nullptr);
  EXPECT_EQ(f.Capacity(), 0u);
  EXPECT_FALSE(f.SetSize(0xFFFFFFFFu));
  EXPECT_TRUE(f.Free());
  EXPECT_TRUE(f.Free());  // a port frees it again in its own destructor
}

TEST(LineFIFO, CutsLinesAtCRLFAndCompactsTheRest) {
  LineFIFO f;
  ASSERT_TRUE(f.SetSize(2048));
  ASSERT_TRUE(f.SetEOL("\r\n"));
  ASSERT_TRUE(Receive(f, "220 ready\r\n250 ok"));
  char* line;
  std::uint32_t n;
  ASSERT_TRUE(f.NextLine(&line, &n));
  EXPECT_EQ(std::string(line, n), "220 ready");
  EXPECT_FALSE(f.NextLine(&line, &n));
  EXPECT_EQ(line, nullptr);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(f.Start(), 0u);
  EXPECT_EQ(f.Count(), 6u);
  EXPECT_EQ(std::string(f.Storage(), 6), "250 ok");
}

TEST(LineFIFO, EmptyLinesAndTerminatorsCutAcrossReceives) {
  LineFIFO f;
  ASSERT_TRUE(f.SetSize(64));
  ASSERT_TRUE(f.SetEOL("\n"));
  ASSERT_TRUE(PutText(f, "\n\n"));
  EXPECT_EQ(Lines(f), (std::vector<std::string>{"", ""}));

  ASSERT_TRUE(f.SetEOL("\r\n"));
  ASSERT_TRUE(Receive(f, "abc\r"));
  EXPECT_TRUE(Lines(f).empty());
  ASSERT_TRUE(Receive(f, "\n"));
  EXPECT_EQ(Lines(f), (std::vector<std::string>{"abc"}));

  // Only the whole terminator ends a line; a lone CR or LF is line content.
  ASSERT_TRUE(Receive(f, "a\rb\nc\r\r\nd"));
  EXPECT_EQ(Lines(f), (std::vector<std::string>{"a\rb\nc\r"}));
  EXPECT_EQ(Held(f), "d");
}

TEST(LineFIFO, RawModeTakesEverything) {
  LineFIFO f;
  ASSERT_TRUE(f.SetSize(32));
  ASSERT_TRUE(f.SetEOL("\n"));
  ASSERT_TRUE(f.SetEOL(nullptr, 0));
  EXPECT_TRUE(f.IsRaw());
  ASSERT_TRUE(PutText(f, "one\ntwo\n"));
  char* data;
  std::uint32_t n;
  ASSERT_TRUE(f.NextLine(&data, &n));
  EXPECT_EQ(std::string(data, n), "one\ntwo\n");
  EXPECT_EQ(f.Count(), 0u);
  EXPECT_FALSE(f.NextLine(&data, &n));
  EXPECT_STREQ(data, "");
  EXPECT_EQ(n, 0u);
}

TEST(LineFIFO, FullBufferYieldsAllItsBytes) {
  LineFIFO f;
  ASSERT_TRUE(f.SetSize(2048));
  ASSERT_TRUE(f.SetEOL("\r\n"));
  std::string sent;
  for (int i = 0; i < 2048; ++i) sent += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(Receive(f, sent.substr(0, 1000)));
  ASSERT_TRUE(Receive(f, sent.substr(1000)));
  char* line;
  std::uint32_t n;
  EXPECT_FALSE(f.NextLine(&line, &n));
  char* block;
  std::uint32_t size = 0;
  EXPECT_FALSE(f.GetFreeBlock(&block, &size));
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(block, f.Storage() + 2048);
  ASSERT_TRUE(f.TakeAll(&line, &n));
  EXPECT_EQ(n, 2048u);
  EXPECT_EQ(std::string(line, n), sent);
  EXPECT_EQ(f.Count(), 0u);
}

TEST(LineFIFO, PutAndCommitRefuseWhatDoesNotFit) {
  LineFIFO f;
  ASSERT_TRUE(f.SetSize(10));
  ASSERT_TRUE(f.SetEOL("\n"));
  ASSERT_TRUE(PutText(f, "ab\ncdefg"));  // 8 held
  EXPECT_FALSE(PutText(f, "xyz"));
  EXPECT_EQ(Held(f), "ab\ncdefg");
  char* line;
  std::uint32_t n;
  ASSERT_TRUE(f.NextLine(&line, &n));  // start 3, 5 held, 2 free at the back
  EXPECT_EQ(f.Start(), 3u);
  EXPECT_FALSE(f.Commit(3));
  EXPECT_EQ(f.Count(), 5u);
  ASSERT_TRUE(PutText(f, "hij"));  // fits only after compaction
  EXPECT_EQ(f.Start(), 0u);
  EXPECT_EQ(Held(f), "cdefghij");
  EXPECT_EQ(std::string(f.Storage(), 8), "cdefghij");
  EXPECT_FALSE(f.Commit(3));
  ASSERT_TRUE(f.Commit(0));
}

TEST(LineFIFO, GetFreeBlockCompactsWhenTheBackIsShort) {
  LineFIFO f;
  ASSERT_TRUE(f.SetSize(10));
  ASSERT_TRUE(f.SetEOL("\n"));
  ASSERT_TRUE(PutText(f, "abcdef\nxyz"));  // full
  char* line;
  std::uint32_t n;
  ASSERT_TRUE(f.NextLine(&line, &n));  // start 7, 3 held, no room at the back
  char* block;
  std::uint32_t size = 0;  // any size
  ASSERT_TRUE(f.GetFreeBlock(&block, &size));
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(block, f.Storage() + 3);
  EXPECT_EQ(Held(f), "xyz");

  size = 8;  // more than is free: compacted, room given, refused
  EXPECT_FALSE(f.GetFreeBlock(&block, &size));
  EXPECT_EQ(size, 7u);
}

TEST(LineFIFO, PushesBackBytesItHandedOut) {
  LineFIFO f;
  ASSERT_TRUE(f.SetSize(16));
  ASSERT_TRUE(f.SetEOL("\n"));
  ASSERT_TRUE(PutText(f, "abcd\nefghijkl"));  // 13 held
  char* line;
  std::uint32_t n;
  ASSERT_TRUE(f.NextLine(&line, &n));  // "abcd" at the front; 3 bytes free at the back
  ASSERT_EQ(std::string(line, n), "abcd");
  // The compaction this needs overwrites the line's bytes, so they must be copied first.
  ASSERT_TRUE(f.Put(line, n));
  EXPECT_EQ(Held(f), "efghijklabcd");

  char* all;
  ASSERT_TRUE(f.TakeAll(&all, &n));
  ASSERT_TRUE(f.Put(all + 8, 4));  // overlapping move to the front
  EXPECT_EQ(Held(f), "abcd");
}

TEST(LineFIFO, SetEOLFailureLeavesRawMode) {
  LineFIFO f;
  ASSERT_TRUE(f.SetEOL("\r\n"));
  {
    AllocFailureScope fail(0, 1);
    EXPECT_FALSE(f.SetEOL("\n"));
  }
  EXPECT_TRUE(f.IsRaw());
  EXPECT_EQ(f.EOLLength(), 0u);
  ASSERT_TRUE(f.SetEOL(f.EOL(), 0));
  ASSERT_TRUE(f.SetEOL("\r\n"));
  ASSERT_TRUE(f.SetEOL(f.EOL(), f.EOLLength()));  // from its own copy
  EXPECT_STREQ(f.EOL(), "\r\n");
}

TEST(LineFIFO, Find) {
  const char data[] = "ab\r\ncd";
  EXPECT_EQ(LineFIFO::Find(data, 6, "\r\n", 2), 2);
  EXPECT_EQ(LineFIFO::Find(data, 6, "cd", 2), 4);
  EXPECT_EQ(LineFIFO::Find(data, 5, "cd", 2), -1);
  EXPECT_EQ(LineFIFO::Find(data, 1, "ab\r", 3), -1);  // longer than the bytes
  EXPECT_EQ(LineFIFO::Find("\r\r\n", 3, "\r\n", 2), 1);
}

// The port's read cycle over a stream cut at random places: lines come out whole, lines
// longer than the buffer come out in full-buffer pieces, and no byte is lost or repeated.
TEST(LineFIFO, ReadCycleLosesNothing) {
  std::mt19937 rng(99);
  std::string stream;
  for (int i = 0; i < 400; ++i) {
    stream += std::string(rng() % 7 == 0 ? 100 + rng() % 200 : rng() % 40, static_cast<char>('a' + i % 26));
    stream += "\r\n";
  }
  LineFIFO f;
  ASSERT_TRUE(f.SetSize(128));
  ASSERT_TRUE(f.SetEOL("\r\n"));
  std::string rebuilt;
  std::size_t pos = 0;
  while (true) {
    char* line;
    std::uint32_t n;
    while (f.NextLine(&line, &n)) rebuilt.append(line, n).append("\r\n");
    char* block;
    std::uint32_t size = 0;
    if (!f.GetFreeBlock(&block, &size)) {
      ASSERT_EQ(f.Count(), f.Capacity());
      ASSERT_TRUE(f.TakeAll(&line, &n));
      rebuilt.append(line, n);
      continue;
    }
    if (pos == stream.size()) break;
    const std::uint32_t take = std::min<std::uint32_t>({size, 1 + static_cast<std::uint32_t>(rng() % 90),
                                                        static_cast<std::uint32_t>(stream.size() - pos)});
    std::memcpy(block, stream.data() + pos, take);
    ASSERT_TRUE(f.Commit(take));
    pos += take;
  }
  EXPECT_EQ(f.Count(), 0u);
  EXPECT_EQ(rebuilt, stream);
}
