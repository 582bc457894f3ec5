// The main window's layout at a given client size, and a pump for events that come from the
// window system; shared by the offscreen and the window-manager tests.
#pragma once
#include <chrono>
#include <functional>

#include <gtest/gtest.h>

#include "app/Unit1.h"
#include "platform/win32/user.h"

namespace layouttest {

// Anchored left, top and right, the group box keeps its 3-pixel gap on the right; the grid
// fills the bottom edge at its own height; everything else stays where it was designed.
inline void ExpectMainLayout(int clientWidth, int clientHeight) {
  EXPECT_EQ(Form1->ClientWidth(), clientWidth);
  EXPECT_EQ(Form1->ClientHeight(), clientHeight);
  EXPECT_EQ(Form1->Width(), clientWidth + 8);
  EXPECT_EQ(Form1->GroupBox1->Left(), 0);
  EXPECT_EQ(Form1->GroupBox1->Top(), 200);
  EXPECT_EQ(Form1->GroupBox1->Width(), clientWidth - 3);
  EXPECT_EQ(Form1->GroupBox1->Height(), 73);
  EXPECT_EQ(Form1->sgQuotes->Left(), 0);
  EXPECT_EQ(Form1->sgQuotes->Top(), clientHeight - 153);
  EXPECT_EQ(Form1->sgQuotes->Width(), clientWidth);
  EXPECT_EQ(Form1->sgQuotes->Height(), 153);
  EXPECT_EQ(Form1->bUpdate->Left(), 325);
  EXPECT_EQ(Form1->eProxyPort->Left(), 341);
}

// Dispatches the thread's messages and the window system's events until done() or the deadline.
inline bool PumpUntil(const std::function<bool()>& done, int deadlineMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    Application->ProcessMessages();
  }
  return true;
}

}  // namespace layouttest
