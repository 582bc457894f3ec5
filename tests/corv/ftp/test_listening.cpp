// The active mode's listener when the server's connection comes while a read pass of the
// connection before is still on the stack.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "corv/ftp/FTP.h"
#include "tests/corv/core/port_testing.h"

namespace {

struct Listener : CListeningSocket {
  Listener() { corvtest::EnsureWinsock(); }
  int OnDataIn(const char*, WORD, bool) override {
    if (onData) onData();
    return 0;
  }
  int FireConnected(WORD, const char*) override {
    events.push_back("connected");
    return 0;
  }
  int FireDisconnected(WORD, const char*) override {
    events.push_back("disconnected");
    return 0;
  }
  std::function<void()> onData;
  std::vector<std::string> events;
};

// The connection before is closed and reported, not left open under the new one's handle.
TEST(ListeningSocket, AnAcceptInsideAPassOfTheConnectionBeforeClosesThatConnectionFirst) {
  Listener data;
  ASSERT_TRUE(data.Init());
  ASSERT_EQ(0, data.Listen(0));
  corvtest::RecordingPort first, second;
  ASSERT_TRUE(first.Init());
  ASSERT_TRUE(second.Init());
  corvtest::Aim(first, data.GetListenPort());
  ASSERT_EQ(0, first.ConnectAndWait());
  ASSERT_TRUE(corvtest::PumpUntil(data, [&] { return data.Connected; }));
  bool handled = false;
  data.onData = [&] {
    if (handled) return;
    handled = true;
    ASSERT_EQ(0, data.Listen(0));
    corvtest::Aim(second, data.GetListenPort());
    ASSERT_EQ(0, second.ConnectAndWait());
    ASSERT_TRUE(corvtest::PumpUntil(data, [&] { return data.ListenSocket == ws::INVALID_SOCKET; }));
  };
  ASSERT_EQ(0, first.SendAndWait("abc", 3, false));
  ASSERT_TRUE(corvtest::PumpUntil(data, [&] { return handled; }));
  EXPECT_TRUE(corvtest::PumpUntil(first, [&] { return first.Has("disconnected 0 OK"); }, 2000));
  EXPECT_EQ((std::vector<std::string>{"connected", "disconnected", "connected"}), data.events);
  EXPECT_TRUE(data.Connected);
}

}  // namespace
