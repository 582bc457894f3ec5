// A program that only links the library and binds by ordinal, as the engine does, must find
// "WSOCK32.DLL" without calling anything of the module by name first.
#include <gtest/gtest.h>

#include "platform/win32/module.h"
#include "platform/winsock/winsock.h"

namespace {

TEST(WinsockSelfRegistration, LoadableBeforeAnyCallIntoTheModule) {
  HMODULE m = LoadLibraryA("WSOCK32.DLL");
  ASSERT_NE(nullptr, m);
  auto startup = reinterpret_cast<ws::PFN_WSAStartup>(GetProcAddress(m, MAKEINTRESOURCEA(115)));
  auto cleanup = reinterpret_cast<ws::PFN_WSACleanup>(GetProcAddress(m, MAKEINTRESOURCEA(116)));
  ASSERT_NE(nullptr, startup);
  ASSERT_NE(nullptr, cleanup);
  ws::WSADATA data;
  EXPECT_EQ(0, startup(ws::MAKEWORD(1, 1), &data));
  EXPECT_EQ(0x0101, data.wVersion);
  EXPECT_EQ(0, cleanup());
  EXPECT_EQ(TRUE, FreeLibrary(m));
}

}  // namespace
