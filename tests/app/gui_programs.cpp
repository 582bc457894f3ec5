#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "app/evtavek232.h"
#include "platform/win32/win32.h"
#include "tests/tools/display-sim/sim_process.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Whether the executables were built to ask a quote service on this machine, and on which port.
bool LocalQuoteService() {
  const std::string host = TAVLIN_QUOTE_HOST;
  return (host == "127.0.0.1" || host == "localhost") && std::string(TAVLIN_QUOTE_PORT) != "";
}

// Runs one of the two executables offscreen with COM3 and COM1 each leading to a display
// simulator of its own, and returns which simulator saw the start-up price.
class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    if (LocalQuoteService()) {
      quotes_ = std::make_unique<simtest::SimProcess>();
      ASSERT_TRUE(quotes_->Spawn({std::string(TAVLIN_BINARY_DIR) + "/tools/quote-service/quote-service", "--port",
                                  TAVLIN_QUOTE_PORT}));
      ASSERT_EQ(quotes_->ReadLine().rfind("quote-service: listening", 0), 0u);
    }
    const std::string base = (fs::temp_directory_path() / ("h4-prog-" + std::to_string(getpid()))).string();
    link3_ = base + "-com3";
    link1_ = base + "-com1";
    ASSERT_TRUE(sim3_.StartPty(link3_));
    ASSERT_TRUE(sim1_.StartPty(link1_));
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }

  void Start(const std::string& name) {
    const std::string path = std::string(TAVLIN_BINARY_DIR) + "/app/" + name;
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string v = *e;
      if (v.rfind("TAVLIN_COM", 0) != 0 && v.rfind("QT_QPA_PLATFORM=", 0) != 0) env.push_back(v);
    }
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("TAVLIN_COM3=" + link3_);
    env.push_back("TAVLIN_COM1=" + link1_);
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    ASSERT_EQ(posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, envp.data()), 0);
  }

  // Waits until the program holds the port (its exclusive open keeps us out), or the deadline.
  static bool HeldByProgram(const std::string& link) {
    setenv("TAVLIN_COM9", link.c_str(), 1);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      if (!OpenPort("COM9")) return true;
      ClosePort();
      // The program's open comes at the latest after its window set-up; look again soon.
      pollfd none{};
      poll(&none, 0, 20);
    }
    return false;
  }

  // Checks the start-up of a program that opens `opened` and leaves `untouched` alone.
  void ExpectStartUpOn(const std::string& opened, simtest::SimProcess& openedSim, const std::string& untouched,
                       simtest::SimProcess& untouchedSim) {
    if (LocalQuoteService()) {
      // The start-up fetch fills row 1, and its price goes out.
      EXPECT_TRUE(std::regex_match(openedSim.ReadLine(), std::regex("frame AA 00 06 .*: price \\d+\\.\\d\\d (up|down)")));
    }
    // Otherwise the quote host is not reachable from here: the fetch fails, the framework shows
    // it and no price is sent, but the start-up port is open.
    EXPECT_TRUE(HeldByProgram(opened));
    EXPECT_EQ(waitpid(pid_, nullptr, WNOHANG), 0);
    setenv("TAVLIN_COM9", untouched.c_str(), 1);
    EXPECT_TRUE(OpenPort("COM9"));
    ClosePort();
    EXPECT_EQ(untouchedSim.ReadLine(0), "");
  }

  std::unique_ptr<simtest::SimProcess> quotes_;
  std::string link3_, link1_;
  simtest::SimProcess sim3_, sim1_;
  pid_t pid_ = -1;
};

TEST_F(Program, Com3OpensTheFirstEntryAtStartUp) {
  Start("tavlin_COM3");
  ExpectStartUpOn(link3_, sim3_, link1_, sim1_);
}

TEST_F(Program, Com1OpensTheSecondEntryAtStartUp) {
  Start("tavlin_COM1");
  ExpectStartUpOn(link1_, sim1_, link3_, sim3_);
}

}  // namespace
