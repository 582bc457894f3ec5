// A recording event sink for the mail builder and an engine wired to it.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "corv/mail/FileMailer.h"
#include "platform/winsock/winsock.h"

namespace mailtest {

class Recorder : public FileMailerEvts {
 public:
  // Every event as one line: "PITrail 0 RSET", "Error 161 550 no", "Transfer 12", ...
  std::vector<std::string> events;
  std::function<void(const std::string&)> then;

  int EndTransfer() override { return Add("EndTransfer"); }
  int Error(std::uint16_t code, const char* d) override { return Add("Error " + std::to_string(code) + " " + d); }
  int PITrail(std::uint16_t dir, const char* d) override { return Add("PITrail " + std::to_string(dir) + " " + d); }
  int StartTransfer() override { return Add("StartTransfer"); }
  int Transfer(std::uint32_t bytes) override { return Add("Transfer " + std::to_string(bytes)); }

  // The events that begin with prefix, in order.
  std::vector<std::string> With(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& e : events)
      if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
  }

 private:
  int Add(const std::string& line) {
    events.push_back(line);
    if (then) then(line);
    return 0;
  }
};

struct Mailer {
  CFileMailer m;
  Recorder sink;
  explicit Mailer(int port) {
    winsock::EnsureRegistered();
    m.Mime.Init(true);
    m.Init();
    m.UseWinsock(true);
    m.EventSink = static_cast<FileMailerEvts*>(&sink);
    m.SetRemoteHost("127.0.0.1");
    m.SetRemotePort(static_cast<WORD>(port));
    m.EhloName.SetText("client.test");
    m.SetTimeout(10);
  }
  void Address(DynStrJRFC822& field, const std::string& v) { ASSERT_EQ(0, field.SetAddressList(v.c_str(), 72, 0)); }
  void Text(const std::string& t) { ASSERT_EQ(0, m.SetUserText(t.data(), std::uint32_t(t.size()))); }
  std::string Error() const { return m.GetErrorText(); }
};

}  // namespace mailtest
