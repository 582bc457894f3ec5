// One nginx for a whole test suite: starting it per test adds nothing. Suite is the fixture
// class itself (class HTTPNginx : public NginxSuite<HTTPNginx> {}), so each suite has its own
// server. A missing or broken nginx fails every test of the suite, never skips it.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "tests/peers/nginx.h"
#include "tests/peers/process.h"

template <class Suite>
class NginxSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    try {
      server = new peers::Nginx();
    } catch (const peers::PeerError& e) {
      startError = e.what();
    }
  }
  void SetUp() override { ASSERT_NE(server, nullptr) << startError; }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  static std::string Url(const std::string& path) { return server->Url(path); }
  static inline peers::Nginx* server = nullptr;
  static inline std::string startError;
};
