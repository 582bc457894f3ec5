// The library as another project takes it: `cmake --install` into a temporary prefix, then a
// small project that includes the BSD socket headers beside the four component headers, finds
// the library with find_package(Corvane), links the component targets without further flags
// and runs each component against real servers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/peers/ftp.h"
#include "tests/peers/nginx.h"
#include "tests/peers/process.h"
#include "tests/peers/smtp.h"

namespace {

// Runs a shell command with its output in log; true when it succeeds.
bool Shell(const std::string& command, const std::string& log) {
  return std::system((command + " >'" + log + "' 2>&1").c_str()) == 0;
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

TEST(CorvaneInstall, ConsumerFoundThroughFindPackageRunsEveryComponent) {
  peers::TempDir dir("tavlin-install");
  const std::string prefix = dir.File("prefix"), build = dir.File("build"), log = dir.File("log.txt");
  const std::string cmake = Quoted(TAVLIN_CMAKE);
  ASSERT_TRUE(Shell(cmake + " --install " + Quoted(TAVLIN_BINARY_DIR) + " --prefix " + Quoted(prefix), log))
      << peers::Tail(log);
  const std::string flags = TAVLIN_CONSUMER_FLAGS;
  ASSERT_TRUE(Shell(cmake + " -S " + Quoted(TAVLIN_SOURCE_DIR "/tests/corv/install/consumer") + " -B " +
                      Quoted(build) + " -G " + Quoted(TAVLIN_GENERATOR) + " -DCMAKE_CXX_COMPILER=" +
                      Quoted(TAVLIN_CXX) + " -DCMAKE_PREFIX_PATH=" + Quoted(prefix) +
                      (flags.empty() ? "" : " -DCMAKE_CXX_FLAGS=" + Quoted(flags)),
                  log))
      << peers::Tail(log);
  ASSERT_TRUE(Shell(cmake + " --build " + Quoted(build), log)) << peers::Tail(log);

  peers::Nginx web;
  peers::Pyftpdlib ftp;
  peers::SmtpServer smtp;
  peers::WriteFileBytes(ftp.root() + "/quotes.csv", "ABC,1.5\n");
  ASSERT_TRUE(Shell(Quoted(build + "/consumer") + " " + std::to_string(web.port()) + " " + std::to_string(ftp.port()) +
                      " " + peers::Pyftpdlib::kUser + " " + peers::Pyftpdlib::kPassword + " " +
                      std::to_string(smtp.port()) + " " + Quoted(dir.path()),
                  log))
      << peers::Tail(log);

  EXPECT_EQ("hello tavlin\n", peers::ReadFileBytes(dir.File("get.txt")));
  const std::string form = peers::ReadFileBytes(dir.File("form.txt"));
  EXPECT_NE(std::string::npos, form.find("method=POST\n")) << form;
  EXPECT_NE(std::string::npos, form.find("type=application/x-www-form-urlencoded\nlength=11\n")) << form;
  ASSERT_EQ(1, smtp.Count()) << smtp.log();
  const std::string mail = smtp.Message(1);
  EXPECT_NE(std::string::npos, mail.find("Subject: Quotes")) << mail;
  EXPECT_NE(std::string::npos, mail.find("get.txt")) << mail;
  EXPECT_EQ("quotes.csv\n", peers::ReadFileBytes(dir.File("list.txt")));
  EXPECT_EQ("ABC,1.5\n", peers::ReadFileBytes(dir.File("ftp.csv")));
}

}  // namespace
