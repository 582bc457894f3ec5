#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/win32/module.h"
#include "platform/win32/user.h"

namespace {

std::vector<UINT> seen;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  seen.push_back(msg);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK RefuseCreate(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_CREATE ? -1 : 0; }

class Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.clear();
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.cbWndExtra = 12;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "Test_Window";
    ASSERT_NE(RegisterClassA(&wc), 0);
  }
  void TearDown() override {
    for (HWND h : made)
      if (IsWindow(h)) DestroyWindow(h);
    UnregisterClassA("Test_Window", GetModuleHandleA(nullptr));
  }
  HWND Make(const char* cls = "Test_Window", HINSTANCE inst = GetModuleHandleA(nullptr)) {
    HWND h = CreateWindowExA(0, cls, "", 0, 0, 0, 0, 0, nullptr, nullptr, inst, nullptr);
    if (h) made.push_back(h);
    return h;
  }
  std::vector<HWND> made;
};

TEST_F(Windows, ClassNamesAreCaseInsensitiveAndUnique) {
  EXPECT_NE(Make("TEST_WINDOW"), nullptr);
  WNDCLASSA wc{};
  wc.lpfnWndProc = RecordingProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "test_window";
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

  SetLastError(0);
  EXPECT_EQ(Make("No_Such_Class"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

TEST_F(Windows, ClassWithWindowsCannotBeUnregistered) {
  HWND h = Make();
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(UnregisterClassA("Test_Window", GetModuleHandleA(nullptr)));
  EXPECT_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
  DestroyWindow(h);
  EXPECT_TRUE(UnregisterClassA("test_WINDOW", nullptr));
  EXPECT_FALSE(UnregisterClassA("Test_Window", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);
  EXPECT_EQ(Make(), nullptr);
}

TEST_F(Windows, LocalClassBelongsToItsInstanceGlobalClassDoesNot) {
  HINSTANCE other = reinterpret_cast<HINSTANCE>(0x7770000);
  EXPECT_EQ(Make("Test_Window", other), nullptr);

  WNDCLASSA wc{};
  wc.style = CS_GLOBALCLASS;
  wc.lpfnWndProc = RecordingProc;
  wc.hInstance = other;
  wc.lpszClassName = "Test_Global";
  ASSERT_NE(RegisterClassA(&wc), 0);
  // A second global registration of the name fails, as the engine's second unit sees it.
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  HWND h = Make("test_global", GetModuleHandleA(nullptr));
  EXPECT_NE(h, nullptr);
  DestroyWindow(h);
  EXPECT_TRUE(UnregisterClassA("Test_Global", other));
}

TEST_F(Windows, ExtraMemoryHoldsAPointerAndRefusesOffsetsOutside) {
  HWND h = Make();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetWindowLongA(h, 0), 0);  // zero-initialised
  int object = 0;
  const auto value = reinterpret_cast<LONG_PTR>(&object);
  EXPECT_EQ(SetWindowLongA(h, 0, value), 0);
  EXPECT_EQ(reinterpret_cast<int*>(GetWindowLongA(h, 0)), &object);
  EXPECT_EQ(SetWindowLongA(h, 0, 0x123456789ALL), value);
  EXPECT_EQ(GetWindowLongA(h, 0), 0x123456789ALL);

  // The last 32-bit word of the 12 bytes is still addressable; beyond it is not.
  SetWindowLongA(h, 8, -5);
  EXPECT_EQ(GetWindowLongA(h, 8), -5);
  SetLastError(0);
  EXPECT_EQ(SetWindowLongA(h, 9, 1), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
  EXPECT_EQ(GetWindowLongA(h, -4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
}

TEST_F(Windows, HandlesAreNeverReused) {
  HWND first = Make();
  ASSERT_TRUE(DestroyWindow(first));
  EXPECT_FALSE(IsWindow(first));
  HWND second = Make();
  EXPECT_NE(first, second);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_FALSE(DestroyWindow(first));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(GetWindowLongA(first, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(Windows, CloseThroughDefaultProcedureDestroysTheWindow) {
  HWND h = Make();
  ASSERT_TRUE(PostMessageA(h, WM_CLOSE, 0, 0));
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  DispatchMessageA(&m);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(seen, (std::vector<UINT>{WM_CREATE, WM_CLOSE, WM_DESTROY}));
}

TEST_F(Windows, RefusedCreationGivesNoWindow) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = RefuseCreate;
  wc.lpszClassName = "Test_Refuse";
  ASSERT_NE(RegisterClassA(&wc), 0);
  EXPECT_EQ(Make("Test_Refuse"), nullptr);
  // No window was left behind to keep the class alive.
  EXPECT_TRUE(UnregisterClassA("Test_Refuse", nullptr));
}

TEST_F(Windows, WindowsDieWithTheirThread) {
  HWND h = nullptr;
  std::thread([&] { h = Make(); }).join();
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(PostMessageA(h, WM_USER, 0, 0));
  EXPECT_TRUE(UnregisterClassA("Test_Window", nullptr));
  ASSERT_TRUE(UnregisterClassA("Test_Window", nullptr) == FALSE);
  SetUp();
}

TEST_F(Windows, OnlyTheOwningThreadDestroysAWindow) {
  HWND h = Make();
  BOOL result = TRUE;
  DWORD error = 0;
  std::thread([&] {
    result = DestroyWindow(h);
    error = GetLastError();
  }).join();
  EXPECT_FALSE(result);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(IsWindow(h));
}

}  // namespace
