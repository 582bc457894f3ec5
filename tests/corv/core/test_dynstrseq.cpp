#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "corv/core/Alloc.h"
#include "corv/core/DynStrSeq.h"

using corv::test::AllocCalls;
using corv::test::AllocFailureScope;

namespace {
std::string Bytes(const DynStrSeq& q) { return std::string(q.Buffer().Text(), q.Buffer().Length()); }

// Rebuilds the list by walking the stored length fields, as any reader of the buffer does.
std::vector<std::string> Parse(const DynStrSeq& q) {
  std::vector<std::string> out;
  const auto* p = reinterpret_cast<const unsigned char*>(q.Buffer().Text());
  std::uint32_t off = 0;
  const std::uint32_t len = q.Buffer().Length();
  while (off < len) {
    EXPECT_LE(off + 4, len);
    const std::uint32_t n = (std::uint32_t{p[off]} << 16) | (std::uint32_t{p[off + 1]} << 8) | p[off + 2];
    EXPECT_LE(off + n + 4, len);
    EXPECT_EQ(p[off + 3 + n], 0);
    out.emplace_back(reinterpret_cast<const char*>(p) + off + 3, n);
    off += n + 4;
  }
  EXPECT_EQ(off, len);
  return out;
}

void ExpectEntries(const DynStrSeq& q, const std::vector<std::string>& model) {
  ASSERT_EQ(q.Count(), model.size());
  EXPECT_EQ(Parse(q), model);
  for (std::uint32_t i = 0; i < model.size(); ++i) {
    EXPECT_EQ(q.GetLength(i), model[i].size());
    EXPECT_EQ(std::string(q.Get(i), q.GetLength(i)), model[i]);
  }
}

std::string Hex(const std::vector<int>& v) { return std::string(v.begin(), v.end()); }
}  // namespace

TEST(DynStrSeq, StoresLengthBytesAndTerminator) {
  DynStrSeq q;
  ASSERT_EQ(q.Append("ab"), 0);
  ASSERT_EQ(q.Append("c"), 0);
  EXPECT_EQ(Bytes(q), Hex({0, 0, 2, 'a', 'b', 0, 0, 0, 1, 'c', 0}));

  ASSERT_EQ(q.Set(0, "xyz"), 0);
  EXPECT_EQ(Bytes(q), Hex({0, 0, 3, 'x', 'y', 'z', 0, 0, 0, 1, 'c', 0}));

  ASSERT_EQ(q.Set(0, ""), 0);
  EXPECT_EQ(Bytes(q), Hex({0, 0, 0, 0, 0, 0, 1, 'c', 0}));

  ASSERT_EQ(q.Append("d"), 0);
  EXPECT_EQ(Bytes(q), Hex({0, 0, 0, 0, 0, 0, 1, 'c', 0, 0, 0, 1, 'd', 0}));
  EXPECT_STREQ(q.Get(2), "d");
}

TEST(DynStrSeq, IndexOutOfRange) {
  DynStrSeq q;
  ASSERT_EQ(q.Append("one"), 0);
  EXPECT_STREQ(q.Get(1), "");
  EXPECT_STREQ(q.Get(0xFFFFFFFFu), "");
  EXPECT_EQ(q.GetLength(1), 0u);
  EXPECT_EQ(q.Set(1, "x"), 432);
  EXPECT_EQ(q.SetAt(7, "x", 1), 432);
  ExpectEntries(q, {"one"});
  EXPECT_EQ(q.Set(0, nullptr), 0);  // null is the empty text
  ExpectEntries(q, {""});
}

TEST(DynStrSeq, SetCount) {
  DynStrSeq q;
  ASSERT_EQ(q.SetCount(3), 0);
  EXPECT_EQ(Bytes(q), std::string(12, '\0'));
  ExpectEntries(q, {"", "", ""});

  ASSERT_EQ(q.Set(1, "middle"), 0);
  ASSERT_EQ(q.Set(2, "last"), 0);
  ASSERT_EQ(q.SetCount(2), 0);
  ExpectEntries(q, {"", "middle"});
  ASSERT_EQ(q.SetCount(0), 0);
  EXPECT_EQ(q.Buffer().Length(), 0u);
  EXPECT_EQ(q.Count(), 0u);
}

TEST(DynStrSeq, EntriesMayHoldAnyByte) {
  DynStrSeq q;
  const char raw[] = {'\0', '\xff', '\0', '\x80'};
  ASSERT_EQ(q.AppendData(raw, 4), 0);
  ASSERT_EQ(q.Append("after"), 0);
  ExpectEntries(q, {std::string(raw, 4), "after"});
}

TEST(DynStrSeq, LongestEntryAndTooLongOnes) {
  DynStrSeq q;
  ASSERT_EQ(q.Append("a"), 0);
  const std::string big(0xFFFFFF, 'B');
  ASSERT_EQ(q.AppendData(big.data(), 0xFFFFFF), 0);
  EXPECT_EQ(q.GetLength(1), 0xFFFFFFu);
  const auto* p = reinterpret_cast<const unsigned char*>(q.Buffer().Text());
  EXPECT_EQ(p[5], 0xFF);
  EXPECT_EQ(p[6], 0xFF);
  EXPECT_EQ(p[7], 0xFF);
  ASSERT_EQ(q.Append("z"), 0);
  EXPECT_STREQ(q.Get(2), "z");

  // 2^24 bytes no longer fit the length field: refused before anything is read or touched.
  const std::string before = Bytes(q);
  const char small[2] = {'s', 's'};
  const unsigned long calls = AllocCalls();
  EXPECT_EQ(q.AppendData(small, 0x1000000), 200);
  EXPECT_EQ(q.SetAt(0, small, 0x1000000), 200);
  EXPECT_EQ(q.SetAt(2, small, 0xFFFFFFFFu), 200);
  EXPECT_EQ(AllocCalls(), calls);
  EXPECT_EQ(q.Count(), 3u);
  EXPECT_TRUE(Bytes(q) == before);
}

TEST(DynStrSeq, FailedAllocationChangesNothing) {
  DynStrSeq q;
  std::vector<std::string> model;
  for (int i = 0; i < 30; ++i) {
    model.push_back("entry" + std::to_string(i));
    ASSERT_EQ(q.Append(model.back().c_str()), 0);
  }
  const std::string before = Bytes(q);
  const std::string big(5000, 'g');
  {
    AllocFailureScope fail(0, 100);
    EXPECT_EQ(q.Append(big.c_str()), 200);
    EXPECT_EQ(q.Set(3, big.c_str()), 200);
    EXPECT_EQ(q.SetCount(100), 200);
    // Replacing with a copy of an entry of the list needs a scratch copy.
    EXPECT_EQ(q.SetAt(0, q.Get(1), q.GetLength(1)), 200);
  }
  EXPECT_TRUE(Bytes(q) == before);
  ExpectEntries(q, model);
}

TEST(DynStrSeq, UsesItsOwnEntriesAsSources) {
  DynStrSeq q;
  std::vector<std::string> model = {std::string(150, 'a'), "b", std::string(60, 'c')};
  for (const auto& s : model) ASSERT_EQ(q.AppendData(s.data(), static_cast<std::uint32_t>(s.size())), 0);
  for (int round = 0; round < 8; ++round) {
    // Appending an entry of the list grows (and moves) the buffer it comes from.
    ASSERT_EQ(q.AppendData(q.Get(0), q.GetLength(0)), 0);
    model.push_back(model[0]);
    // Replacing an entry with a later one moves the source along with the tail.
    ASSERT_EQ(q.SetAt(0, q.Get(2), q.GetLength(2)), 0);
    model[0] = model[2];
    ASSERT_EQ(q.SetAt(1, q.Get(0), q.GetLength(0)), 0);
    model[1] = model[0];
    // Longer: grow entry 2 from a neighbour's bytes.
    std::string longer = model[2] + model[1];
    ASSERT_EQ(q.Set(2, longer.c_str()), 0);
    model[2] = longer;
    ASSERT_EQ(q.SetAt(3, q.Get(2) + 5, q.GetLength(2) - 5), 0);
    model[3] = model[2].substr(5);
    ExpectEntries(q, model);
  }
}

TEST(DynStrSeq, MatchesAListModelUnderRandomEdits) {
  std::mt19937 rng(1234);
  DynStrSeq q;
  std::vector<std::string> model;
  auto randomText = [&] {
    std::string s(rng() % 3 == 0 ? rng() % 300 : rng() % 12, '\0');
    for (auto& c : s) c = static_cast<char>(rng() % 256);
    return s;
  };
  for (int step = 0; step < 3000; ++step) {
    switch (rng() % 4) {
      case 0: {
        const std::string s = randomText();
        ASSERT_EQ(q.AppendData(s.data(), static_cast<std::uint32_t>(s.size())), 0);
        model.push_back(s);
        break;
      }
      case 1:
      case 2: {
        const std::uint32_t i = rng() % (model.size() + 1);
        const std::string s = randomText();
        const int r = q.SetAt(i, s.data(), static_cast<std::uint32_t>(s.size()));
        if (i < model.size()) {
          ASSERT_EQ(r, 0);
          model[i] = s;
        } else {
          ASSERT_EQ(r, 432);
        }
        break;
      }
      default: {
        const std::uint32_t n = rng() % 40;
        ASSERT_EQ(q.SetCount(n), 0);
        model.resize(n);
        break;
      }
    }
  }
  ExpectEntries(q, model);
  q.Clear();
  EXPECT_EQ(q.Count(), 0u);
  EXPECT_FALSE(q.Buffer().OnHeap());
}

// Making entries shorter or dropping them needs no memory.
TEST(DynStrSeq, ShorteningNeverAllocates) {
  DynStrSeq q;
  std::vector<std::string> model = {std::string(200, 'a'), "b", std::string(120, 'c'), "d"};
  for (const auto& s : model) ASSERT_EQ(q.AppendData(s.data(), static_cast<std::uint32_t>(s.size())), 0);
  AllocFailureScope fail(0, 1000);
  const unsigned long before = AllocCalls();
  ASSERT_EQ(q.Set(0, "short"), 0);  // the tail moves towards the front
  model[0] = "short";
  ASSERT_EQ(q.Set(1, "b"), 0);  // same length
  ASSERT_EQ(q.Set(3, ""), 0);  // last entry, nothing behind it
  model[3] = "";
  ExpectEntries(q, model);
  ASSERT_EQ(q.SetCount(2), 0);  // the buffer moves back inline
  model.resize(2);
  ExpectEntries(q, model);
  EXPECT_FALSE(q.Buffer().OnHeap());
  EXPECT_EQ(AllocCalls(), before);
}
