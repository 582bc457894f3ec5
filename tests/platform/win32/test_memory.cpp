#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/memory.h"

namespace {

class Memory : public ::testing::Test {
 protected:
  void TearDown() override { win32::test::ResetGlobalAllocFailures(); }
};

TEST_F(Memory, FixedBlockIsItsOwnAddress) {
  HGLOBAL h = GlobalAlloc(GPTR, 100);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalLock(h), h);
  const auto* p = static_cast<const unsigned char*>(h);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0) << i;
  EXPECT_EQ(GlobalSize(h), 100u);
  // Fixed blocks have no lock count to give back.
  SetLastError(123);
  EXPECT_FALSE(GlobalUnlock(h));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST_F(Memory, MoveableBlockCountsLocks) {
  HGLOBAL h = GlobalAlloc(GHND, 16);
  ASSERT_NE(h, nullptr);
  void* p = GlobalLock(h);
  ASSERT_NE(p, nullptr);
  EXPECT_NE(p, h);
  EXPECT_EQ(GlobalLock(h), p);
  EXPECT_TRUE(GlobalUnlock(h));    // still locked once
  EXPECT_FALSE(GlobalUnlock(h));   // now unlocked
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_FALSE(GlobalUnlock(h));
  EXPECT_EQ(GetLastError(), ERROR_NOT_LOCKED);
  EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST_F(Memory, ReallocationKeepsContentsAndZeroesTheGrowth) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 4);
  std::memcpy(GlobalLock(h), "abcd", 4);
  GlobalUnlock(h);
  ASSERT_EQ(GlobalReAlloc(h, 4096, GMEM_ZEROINIT), h);
  auto* p = static_cast<char*>(GlobalLock(h));
  EXPECT_EQ(std::memcmp(p, "abcd", 4), 0);
  EXPECT_EQ(p[4095], 0);
  EXPECT_EQ(GlobalSize(h), 4096u);
  // Locked, it may not move unless allowed to.
  EXPECT_EQ(GlobalReAlloc(h, 1 << 20, 0), nullptr);
  GlobalUnlock(h);
  GlobalFree(h);

  HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 8);
  EXPECT_EQ(GlobalReAlloc(fixed, 4, 0), fixed);
  EXPECT_EQ(GlobalReAlloc(fixed, 1 << 20, 0), nullptr);
  HGLOBAL moved = GlobalReAlloc(fixed, 1 << 20, GMEM_MOVEABLE);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(GlobalSize(moved), 1u << 20);
  GlobalFree(moved);
}

TEST_F(Memory, InjectedFailuresAfterSkippedAllocations) {
  win32::test::FailGlobalAllocs(2, 1);
  HGLOBAL a = GlobalAlloc(GMEM_FIXED, 8);
  HGLOBAL b = GlobalAlloc(GMEM_FIXED, 8);
  SetLastError(0);
  HGLOBAL c = GlobalAlloc(GMEM_FIXED, 8);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  HGLOBAL d = GlobalAlloc(GMEM_FIXED, 8);
  EXPECT_NE(d, nullptr);

  win32::test::FailGlobalAllocs(0, -1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(GlobalAlloc(GHND, 8), nullptr);
  EXPECT_EQ(GlobalReAlloc(a, 4096, GMEM_MOVEABLE), nullptr);
  win32::test::ResetGlobalAllocFailures();
  HGLOBAL e = GlobalAlloc(GHND, 8);
  EXPECT_NE(e, nullptr);
  for (HGLOBAL h : {a, b, d, e}) EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST_F(Memory, UnknownHandlesAreRefused) {
  int local = 0;
  HGLOBAL bogus = &local;
  EXPECT_EQ(GlobalLock(bogus), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GlobalFree(bogus), bogus);
  EXPECT_EQ(GlobalSize(bogus), 0u);
  HGLOBAL h = GlobalAlloc(GMEM_FIXED, 1);
  GlobalFree(h);
  EXPECT_EQ(GlobalFree(h), h);  // a second free is refused, not a double free
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

}  // namespace
