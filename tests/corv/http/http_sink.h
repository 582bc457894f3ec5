// A recording event sink for the HTTP engine, and an engine wired to it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "corv/http/HTTP.h"
#include "platform/winsock/winsock.h"
#include "tests/corv/http/event_lines.h"

namespace httptest {

class Recorder : public HTTPEvts, public enginetest::EventLines {
 public:
  // Lines such as "Header Content-Length: 13" or "Transfer 1".
  std::string body;            // the texts of direction-1 transfers, joined
  std::uint32_t lastBytes = 0;  // bytes count of the last direction-1 transfer
  std::uint32_t transfers0 = 0;
  std::vector<std::uint32_t> sent;  // bytes counts of direction-0 transfers

  void Connected(int code, const char* d) override { Add(CodeLine("Connected", code, d)); }
  void Disconnected(int code, const char* d) override { Add(CodeLine("Disconnected", code, d)); }
  void EndTransfer(std::uint16_t dir) override { Add("EndTransfer " + std::to_string(dir)); }
  void Error(int code, const char* d) override { Add(CodeLine("Error", code, d)); }
  void Header(const char* f, const char* v) override { Add(HeaderLine(f, v)); }
  void SetCookie(const char* n, const char* v, const char* e, const char* d, const char* p,
                 int secure) override {
    Add(CookieLine(n, v, e, d, p, secure));
  }
  void StartTransfer(std::uint16_t dir) override { Add("StartTransfer " + std::to_string(dir)); }
  void Transfer(std::uint16_t dir, std::uint32_t bytes, const char* text, std::uint16_t len) override {
    if (dir == 1) {
      // The text must read as a NUL-terminated text of exactly len bytes' extent.
      nulOk = nulOk && text[len] == 0;
      body.append(text, len);
      lastBytes = bytes;
    } else {
      ++transfers0;
      sent.push_back(bytes);
    }
    Add("Transfer " + std::to_string(dir));
  }

  // The events without consecutive repeats of "Transfer 1".
  std::vector<std::string> Outline() const {
    std::vector<std::string> out;
    for (const auto& e : events) {
      if (!out.empty() && out.back() == e && e == "Transfer 1") continue;
      out.push_back(e);
    }
    return out;
  }
  bool nulOk = true;
};

struct Engine {
  CHTTP http;
  Recorder sink;
  Engine() {
    winsock::EnsureRegistered();
    http.Init();
    http.EventSink = static_cast<HTTPEvts*>(&sink);
  }
  int Get(const std::string& url) {
    http.SetURL(url.c_str(), false);
    return http.DoAction(1);
  }
  std::string Error() const { return http.GetErrorText(); }
  std::string Data() const { return std::string(http.TransferredData.Text(), http.TransferredData.Length()); }
};

}  // namespace httptest
