// A recording event sink for the FTP engine, and an engine wired to it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "corv/ftp/FTP.h"
#include "platform/winsock/winsock.h"

namespace ftptest {

struct DirEntry {
  std::string entry, name, time;
  bool dir;
  std::int32_t size;
};

class Recorder : public FTPEvts {
 public:
  std::vector<std::string> events;  // "Trail 0 USER x", "Error 4 ...", "Start", "End", ...
  std::vector<DirEntry> dirs;
  std::string body;  // texts of Transfer events
  std::vector<std::int32_t> counts;
  bool nulOk = true;
  std::function<void(const std::string&)> then;

  int DirList(const char* const& e, const char* const& n, const int& d, const std::int32_t& s,
              const char* const& t) override {
    dirs.push_back({e, n, t, d != 0, s});
    Add(std::string("Dir ") + n);
    return 0;
  }
  int EndTransfer() override {
    Add("End");
    return 0;
  }
  int Error(const std::uint16_t& c, const char* const& d) override {
    Add("Error " + std::to_string(c) + " " + d);
    return 0;
  }
  int PITrail(const std::uint16_t& c, const char* const& d) override {
    Add("Trail " + std::to_string(c) + " " + d);
    return 0;
  }
  int StartTransfer() override {
    Add("Start");
    return 0;
  }
  int Transfer(const std::int32_t& bytes, const char* const& text, const std::uint16_t& len) override {
    nulOk = nulOk && text[len] == 0;
    body.append(text, len);
    counts.push_back(bytes);
    Add("Transfer");
    return 0;
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& e : events) n += e.compare(0, prefix.size(), prefix) == 0;
    return n;
  }
  // Events that begin with prefix, in order.
  std::vector<std::string> Only(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& e : events)
      if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
  }
  void Clear() {
    events.clear();
    dirs.clear();
    body.clear();
    counts.clear();
  }

 private:
  void Add(std::string e) {
    events.push_back(e);
    if (then) then(events.back());
  }
};

struct Engine {
  CFTP ftp;
  Recorder sink;
  Engine() {
    winsock::EnsureRegistered();
    ftp.Init();
    ftp.EventSink = static_cast<FTPEvts*>(&sink);
    ftp.SetTimeout(20);
    ftp.SetRemoteHost("127.0.0.1");
  }
  std::string Error() const { return ftp.GetErrorText(); }
};

}  // namespace ftptest
