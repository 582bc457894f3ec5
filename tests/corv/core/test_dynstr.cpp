#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "corv/core/Alloc.h"
#include "corv/core/DynStr.h"

using corv::test::AllocCalls;
using corv::test::AllocFailureScope;

namespace {
std::string Str(const DynStrTemplate& s) { return std::string(s.Text(), s.Length()); }

// The text is followed by its terminator, whatever it holds.
void ExpectTerminated(const DynStrTemplate& s) { EXPECT_EQ(s.Text()[s.Length()], '\0'); }
}  // namespace

TEST(DynStr, NewStringIsEmptyAndInline) {
  DynStr s;
  EXPECT_EQ(s.Length(), 0u);
  EXPECT_EQ(s.Capacity(), 99u);
  EXPECT_FALSE(s.OnHeap());
  EXPECT_STREQ(s.Text(), "");
}

TEST(DynStr, MovesBetweenInlineAndHeapAtHundredBytes) {
  DynStr s;
  const std::string t99(99, 'x'), t100(100, 'y');
  const unsigned long before = AllocCalls();
  ASSERT_EQ(s.Set(99, t99.data()), 0);
  EXPECT_FALSE(s.OnHeap());
  EXPECT_EQ(AllocCalls(), before);
  EXPECT_EQ(Str(s), t99);
  ExpectTerminated(s);

  ASSERT_EQ(s.Set(100, t100.data()), 0);
  EXPECT_TRUE(s.OnHeap());
  EXPECT_EQ(s.Capacity(), 150u);
  EXPECT_EQ(Str(s), t100);
  ExpectTerminated(s);

  ASSERT_EQ(s.Set(10, "abcdefghij"), 0);
  EXPECT_FALSE(s.OnHeap());
  EXPECT_EQ(s.Capacity(), 99u);
  EXPECT_EQ(Str(s), "abcdefghij");

  ASSERT_EQ(s.Set(0u), 0);
  EXPECT_EQ(s.Length(), 0u);
  EXPECT_STREQ(s.Text(), "");
}

TEST(DynStr, SetWithoutDataKeepsThePrefixAcrossMoves) {
  DynStr s;
  ASSERT_EQ(s.SetText("hello"), 0);
  ASSERT_EQ(s.Set(200u), 0);  // inline -> heap
  EXPECT_EQ(std::memcmp(s.Text(), "hello", 5), 0);
  std::memset(s.Text() + 5, 'z', 195);
  ASSERT_EQ(s.Set(1000u), 0);  // heap -> larger heap
  EXPECT_EQ(std::memcmp(s.Text(), "hello", 5), 0);
  EXPECT_EQ(s.Text()[199], 'z');
  ASSERT_EQ(s.Set(3u), 0);  // heap -> inline cut
  EXPECT_EQ(Str(s), "hel");
  EXPECT_FALSE(s.OnHeap());
}

TEST(DynStr, KeepsBinaryBytes) {
  DynStr s;
  const char bytes[] = {'a', '\0', '\xff', '\x80', '\0'};
  ASSERT_EQ(s.Append(bytes, 5), 0);
  ASSERT_EQ(s.Append(bytes, 5), 0);
  EXPECT_EQ(Str(s), std::string(bytes, 5) + std::string(bytes, 5));
}

TEST(DynStr, ByteWiseAppendReallocatesLogarithmically) {
  DynStr s;
  std::string model;
  const unsigned long before = AllocCalls();
  for (int i = 0; i < 100000; ++i) {
    const char c = static_cast<char>('a' + i % 26);
    ASSERT_EQ(s.Append(&c, 1), 0);
    model += c;
  }
  EXPECT_EQ(Str(s), model);
  ExpectTerminated(s);
  EXPECT_LT(AllocCalls() - before, 30u);
}

TEST(DynStr, AppendsItsOwnTextWhileTheBufferMoves) {
  DynStr s;
  ASSERT_EQ(s.SetText("0123456789"), 0);
  // Inline to heap: the source is the inline text.
  for (int i = 0; i < 4; ++i) ASSERT_EQ(s.Append(s.Text(), s.Length()), 0);
  std::string model = "0123456789";
  for (int i = 0; i < 4; ++i) model += model;
  EXPECT_EQ(Str(s), model);
  // Heap to a larger heap: the source is the old heap buffer.
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(s.Append(s.Text() + 3, s.Length() - 3), 0);
    model += model.substr(3);
  }
  EXPECT_EQ(Str(s), model);
  ExpectTerminated(s);
}

TEST(DynStr, SetsFromItsOwnText) {
  DynStr s;
  std::string model(300, '\0');
  for (int i = 0; i < 300; ++i) model[i] = static_cast<char>(i);
  ASSERT_EQ(s.Set(300, model.data()), 0);
  ASSERT_EQ(s.Set(200, s.Text() + 50), 0);  // overlapping, stays on the heap
  EXPECT_EQ(Str(s), model.substr(50, 200));
  ASSERT_EQ(s.Set(40, s.Text() + 100), 0);  // heap text -> inline
  EXPECT_EQ(Str(s), model.substr(150, 40));
  ASSERT_EQ(s.Set(30, s.Text() + 5), 0);  // inline, overlapping
  EXPECT_EQ(Str(s), model.substr(155, 30));
}

TEST(DynStr, FailedGrowthLeavesTheStringAsItWas) {
  DynStr s;
  ASSERT_EQ(s.SetText("short"), 0);
  const std::string big(500, 'b');
  {
    AllocFailureScope fail(0, 1);
    EXPECT_EQ(s.Set(500, big.data()), 200);
  }
  EXPECT_EQ(Str(s), "short");
  EXPECT_EQ(s.Capacity(), 99u);
  EXPECT_FALSE(s.OnHeap());
  {
    AllocFailureScope fail(0, 2);
    EXPECT_EQ(s.Set(500u), 200);  // growth without data
    EXPECT_EQ(s.Append(big.data(), 200), 200);
  }
  EXPECT_EQ(Str(s), "short");
  EXPECT_EQ(s.Capacity(), 99u);

  // On the heap, both the realloc and the fresh-buffer paths.
  ASSERT_EQ(s.Set(150, big.data()), 0);
  const std::uint32_t cap = s.Capacity();
  const char* text = s.Text();
  {
    AllocFailureScope fail(0, 2);
    EXPECT_EQ(s.Append(big.data(), 300), 200);
    EXPECT_EQ(s.Set(400, big.data()), 200);
  }
  EXPECT_EQ(s.Capacity(), cap);
  EXPECT_EQ(s.Text(), text);
  EXPECT_EQ(Str(s), big.substr(0, 150));
  ExpectTerminated(s);
  // A later write within the old capacity must not run past the real buffer.
  ASSERT_EQ(s.Set(cap, std::string(cap, 'c').data()), 0);
  EXPECT_EQ(s.Text(), text);
  // And growth works again once memory is back.
  ASSERT_EQ(s.Append(big.data(), 300), 0);
  EXPECT_EQ(s.Length(), cap + 300);
}

TEST(DynStr, RefusesSizesBeyondThirtyTwoBitsUntouched) {
  DynStr s;
  ASSERT_EQ(s.SetText("keep"), 0);
  const char small[4] = {'a', 'b', 'c', 'd'};
  const unsigned long before = AllocCalls();
  // Length plus half again would pass 2^32; nothing may be read from `small` beyond 4 bytes.
  EXPECT_EQ(s.Set(0xAAAAAAABu, small), 200);
  EXPECT_EQ(s.Set(0xFFFFFFFFu), 200);
  EXPECT_EQ(s.Append(small, 0xFFFFFFFEu), 200);
  EXPECT_EQ(s.Append(small, 0xFFFFFFFFu), 200);
  EXPECT_EQ(AllocCalls(), before);
  EXPECT_EQ(Str(s), "keep");
  EXPECT_EQ(s.Capacity(), 99u);
}

TEST(DynStr, ClearReleasesTheHeap) {
  DynStr s;
  ASSERT_EQ(s.SetText(std::string(1000, 'q').c_str()), 0);
  s.Clear();
  EXPECT_FALSE(s.OnHeap());
  EXPECT_EQ(s.Capacity(), 99u);
  EXPECT_STREQ(s.Text(), "");
  ASSERT_EQ(s.Append("x"), 0);
  EXPECT_STREQ(s.Text(), "x");
}

TEST(DynStr, EnsureTrailingCRLF) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"a\r\n\r\n", "a\r\n"}, {"a", "a\r\n"},     {"a\n", "a\r\n"},   {"a\n\n", "a\n\r\n"},
      {"", "\r\n"},           {"a\r", "a\r\r\n"}, {"\n", "\r\n"},     {"\r\n", "\r\n"},
      {"a\r\n", "a\r\n"},     {"a\n\r\n", "a\r\n"}, {"\r\n\r\n\r\n", "\r\n"}, {"a\r\r\n", "a\r\r\n"},
  };
  for (const auto& c : cases) {
    DynStr s;
    ASSERT_EQ(s.Set(static_cast<std::uint32_t>(c.in.size()), c.in.data()), 0);
    ASSERT_EQ(s.EnsureTrailingCRLF(), 0);
    EXPECT_EQ(Str(s), c.out) << "input " << testing::PrintToString(c.in);
    ExpectTerminated(s);
  }
}

TEST(DynStr, EnsureTrailingCRLFThatCannotGrowChangesNothing) {
  DynStr s;
  const std::string text = std::string(98, 'x') + "\n";  // 99 bytes: CR LF needs the heap
  ASSERT_EQ(s.Set(99, text.data()), 0);
  {
    AllocFailureScope fail(0, 1);
    EXPECT_EQ(s.EnsureTrailingCRLF(), 200);
  }
  EXPECT_EQ(Str(s), text);
  ASSERT_EQ(s.EnsureTrailingCRLF(), 0);
  EXPECT_EQ(Str(s), std::string(98, 'x') + "\r\n");
}

// Cutting a string or decoding it in place must work when no memory is left: callers count
// on a shrinking resize, and the in-place decoder ignores its result.
TEST(DynStr, ShrinkingNeverAllocates) {
  const std::string big(400, 'k');
  DynStr s, crlf, b64;
  ASSERT_EQ(s.Set(400, big.data()), 0);
  ASSERT_EQ(crlf.SetText((big + "\r\n\r\n\r\n").c_str()), 0);
  ASSERT_EQ(b64.SetText(std::string(200, 'Q').c_str()), 0);  // 150 bytes of 0x41 0x04 0x10

  AllocFailureScope fail(0, 1000);
  const unsigned long before = AllocCalls();
  ASSERT_EQ(s.Set(300u), 0);  // stays on the heap
  EXPECT_EQ(Str(s), big.substr(0, 300));
  ASSERT_EQ(s.Set(99u), 0);  // back inline
  EXPECT_FALSE(s.OnHeap());
  EXPECT_EQ(Str(s), big.substr(0, 99));
  ASSERT_EQ(s.Set(0u), 0);
  EXPECT_STREQ(s.Text(), "");

  ASSERT_EQ(crlf.EnsureTrailingCRLF(), 0);
  EXPECT_EQ(Str(crlf), big + "\r\n");

  ASSERT_EQ(b64.DecodeBase64(), 0);
  ASSERT_EQ(b64.Length(), 150u);
  std::string expected;
  for (int i = 0; i < 50; ++i) expected += "\x41\x04\x10";
  EXPECT_EQ(Str(b64), expected);
  ExpectTerminated(b64);
  EXPECT_EQ(AllocCalls(), before);
}
