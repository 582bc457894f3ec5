#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/tools/display-sim/sim_process.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Runs one of the two executables offscreen with COM3 and COM1 each leading to a display
// simulator of its own, and returns which simulator saw the start-up price.
class Program : public ::testing::Test {
 protected:
  void SetUp() override {
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

  std::string link3_, link1_;
  simtest::SimProcess sim3_, sim1_;
  pid_t pid_ = -1;
};

constexpr const char* kStartUpFrame = "frame AA 00 06 01 00 00 00 00 00 F8: price 0.00 unchanged";

TEST_F(Program, Com3OpensTheFirstEntryAndSendsAtStartUp) {
  Start("tavlin_COM3");
  EXPECT_EQ(sim3_.ReadLine(), kStartUpFrame);
  // Still running: the port stays open, and the other port was never touched.
  EXPECT_EQ(waitpid(pid_, nullptr, WNOHANG), 0);
  EXPECT_EQ(sim1_.ReadLine(0), "");
}

TEST_F(Program, Com1OpensTheSecondEntryAndSendsAtStartUp) {
  Start("tavlin_COM1");
  EXPECT_EQ(sim1_.ReadLine(), kStartUpFrame);
  EXPECT_EQ(waitpid(pid_, nullptr, WNOHANG), 0);
  EXPECT_EQ(sim3_.ReadLine(0), "");
}

}  // namespace
