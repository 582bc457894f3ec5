// Shared by the socket engine tests: a message port that records what its hooks see, and a
// pump that runs the engine's wait passes until a condition holds.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "corv/core/IPPortMsg.h"
#include "platform/winsock/winsock.h"

namespace corvtest {

inline void EnsureWinsock() { winsock::EnsureRegistered(); }

// Records every event as a line: "connected 0 OK", "data <bytes> eol", "error 118 text", ...
class RecordingPort : public CIPPortMsg {
 public:
  RecordingPort() { EnsureWinsock(); }

  int FireConnected(WORD code, const char* text) override {
    events.push_back("connected " + std::to_string(code) + " " + text);
    if (onConnected) onConnected();
    return 0;
  }
  int FireDisconnected(WORD code, const char* text) override {
    events.push_back("disconnected " + std::to_string(code) + " " + text);
    return 0;
  }
  int FireError(WORD code, const char* text) override {
    events.push_back("error " + std::to_string(code) + " " + text);
    lastErrorText = text;
    return 0;
  }
  int OnDataIn(const char* data, WORD length, bool eol) override {
    if (recordData) {
      std::string piece(data ? data : "", length);
      pieces.push_back(piece + (eol ? "|eol" : "|part"));
    }
    inHand = data;
    inHandLength = length;
    if (onData) onData();
    return passDataOn ? CIPPortMsg::OnDataIn(data, length, eol) : 0;
  }
  int SendProgress(WORD bytes) override {
    progress.push_back(bytes);
    // What the report should say: every partial send so far, cut to 16 bits.
    sentBeforeProgress += static_cast<std::uint32_t>(BytesSent);
    expectedProgress.push_back(static_cast<WORD>(sentBeforeProgress));
    return 0;
  }
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (onMessage && onMessage(message, wParam, lParam)) return 0;
    return CIPPortMsg::HandleMessage(message, wParam, lParam);
  }

  bool Has(const std::string& event) const {
    for (const auto& e : events)
      if (e == event) return true;
    return false;
  }
  std::size_t CountPrefix(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& e : events)
      if (e.rfind(prefix, 0) == 0) ++n;
    return n;
  }

  std::vector<std::string> events;
  std::vector<std::string> pieces;
  std::vector<WORD> progress;
  std::vector<WORD> expectedProgress;
  std::uint32_t sentBeforeProgress = 0;
  std::string lastErrorText;
  bool recordData = true;
  bool passDataOn = true;
  // Returns true when it handled the message.
  std::function<bool(UINT, WPARAM, LPARAM)> onMessage;
  // Runs after each delivery is recorded (a handler of the data).
  std::function<void()> onData;
  // Runs after a connect report is recorded.
  std::function<void()> onConnected;
  // The delivery being handled: valid while onData runs.
  const char* inHand = nullptr;
  WORD inHandLength = 0;
};

// Runs wait passes of the engine until cond() holds; false after timeoutMs.
inline bool PumpUntil(CWsock& engine, const std::function<bool()>& cond, int timeoutMs = 5000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    engine.DoEvents(10, engine.Window);
  }
  return true;
}

// A port set up for 127.0.0.1:port.
inline void Aim(CAsyncIPPort& port, int tcpPort) {
  ASSERT_EQ(0, port.SetRemoteHost("127.0.0.1"));
  ASSERT_EQ(0, port.SetRemotePort(static_cast<WORD>(tcpPort)));
}

inline std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += static_cast<char>(c);
  return s;
}

}  // namespace corvtest
