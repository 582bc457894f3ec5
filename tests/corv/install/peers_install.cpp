// The library as another project takes it: built alone (no tests, no GUI, no build type named,
// neither GoogleTest nor Qt to be found), `cmake --install`ed into a temporary prefix, then a
// small project that finds it with find_package(Corvane), compiles every installed header
// beside the common system headers and builds corv/README.md's examples, which run against
// real servers.
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

// The README's code block that starts with the program's own first line.
std::string ReadmeExample(const std::string& readme, const std::string& program) {
  const std::size_t start = readme.find("```cpp\n// " + program + ".cpp:");
  if (start == std::string::npos) return "";
  const std::size_t from = start + 7;
  return readme.substr(from, readme.find("```", from) - from);
}

TEST(CorvaneInstall, ReadmeExamplesBuiltAgainstTheInstalledLibraryRunAgainstRealServers) {
  peers::TempDir dir("tavlin-install");
  const std::string lib = dir.File("lib"), prefix = dir.File("prefix"), build = dir.File("build");
  const std::string log = dir.File("log.txt"), out = dir.File("out.txt");
  const std::string cmake = Quoted(TAVLIN_CMAKE);
  const std::string compiler = " -G " + Quoted(TAVLIN_GENERATOR) + " -DCMAKE_CXX_COMPILER=" + Quoted(TAVLIN_CXX);
  ASSERT_TRUE(Shell(cmake + " -S " + Quoted(TAVLIN_SOURCE_DIR) + " -B " + Quoted(lib) + compiler +
                        " -DBUILD_TESTING=OFF -DTAVLIN_GUI=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON"
                        " -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON " TAVLIN_LIBRARY_FLAGS,
                    log))
      << peers::Tail(log);
  EXPECT_NE(std::string::npos, peers::ReadFileBytes(lib + "/CMakeCache.txt").find("\nCMAKE_BUILD_TYPE:STRING=RelWithDebInfo\n"));
  ASSERT_TRUE(Shell(cmake + " --build " + Quoted(lib), log)) << peers::Tail(log);
  ASSERT_TRUE(Shell(cmake + " --install " + Quoted(lib) + " --prefix " + Quoted(prefix), log)) << peers::Tail(log);
  const std::string flags = TAVLIN_CONSUMER_FLAGS;
  const std::string consumer = TAVLIN_SOURCE_DIR "/tests/corv/install/consumer";
  ASSERT_TRUE(Shell(cmake + " -S " + Quoted(consumer) + " -B " + Quoted(build) + compiler +
                        " -DCMAKE_PREFIX_PATH=" + Quoted(prefix) +
                        (flags.empty() ? "" : " -DCMAKE_CXX_FLAGS=" + Quoted(flags)),
                    log))
      << peers::Tail(log);
  ASSERT_TRUE(Shell(cmake + " --build " + Quoted(build), log)) << peers::Tail(log);

  const std::string readme = peers::ReadFileBytes(prefix + "/share/doc/Corvane/README.md");
  for (const char* program : {"http_get", "webform_submit", "mail_send", "ftp_fetch"}) {
    EXPECT_EQ(peers::ReadFileBytes(consumer + "/" + program + ".cpp"), ReadmeExample(readme, program)) << program;
  }

  peers::Nginx web;
  peers::Pyftpdlib ftp;
  peers::SmtpServer smtp({"mailer", "m41l-pw", true});
  const auto run = [&](const std::string& program, const std::string& args) {
    return Shell(Quoted(build + "/" + program) + " " + args, out);
  };
  // Through a redirect that nginx builds from the Host header.
  ASSERT_TRUE(run("http_get", Quoted(web.Url("/redirect-host")) + " " + Quoted(dir.File("get.txt"))))
      << peers::Tail(out);
  EXPECT_EQ("HTTP/1.1 200 OK\n", peers::ReadFileBytes(out));
  EXPECT_EQ("hello tavlin\n", peers::ReadFileBytes(dir.File("get.txt")));

  ASSERT_TRUE(run("webform_submit", Quoted(web.Url("/echo")) + " s 'ABC DEF'")) << peers::Tail(out);
  const std::string form = peers::ReadFileBytes(out);
  EXPECT_NE(std::string::npos, form.find("method=POST\n")) << form;
  EXPECT_NE(std::string::npos, form.find("type=application/x-www-form-urlencoded\nlength=11\n")) << form;

  ASSERT_TRUE(run("mail_send", "127.0.0.1 " + std::to_string(smtp.port()) + " mailer m41l-pw reader@tavlin.invalid " +
                                   Quoted(dir.File("get.txt"))))
      << peers::Tail(out) << smtp.log();
  ASSERT_EQ(1, smtp.Count()) << smtp.log();
  const std::string mail = smtp.Message(1);
  EXPECT_NE(std::string::npos, mail.find("Subject: The report")) << mail;
  EXPECT_NE(std::string::npos, mail.find("get.txt")) << mail;

  peers::WriteFileBytes(ftp.root() + "/quotes.csv", "ABC,1.5\n");
  ASSERT_EQ(0, std::system(("mkdir " + Quoted(ftp.root() + "/older")).c_str()));
  ASSERT_TRUE(run("ftp_fetch", "127.0.0.1 " + std::to_string(ftp.port()) + " " + peers::Pyftpdlib::kUser + " " +
                                   peers::Pyftpdlib::kPassword + " quotes.csv " + Quoted(dir.File("ftp.csv"))))
      << peers::Tail(out);
  const std::string listing = peers::ReadFileBytes(out);
  EXPECT_NE(std::string::npos, listing.find("quotes.csv 8\n")) << listing;
  EXPECT_NE(std::string::npos, listing.find("older/ ")) << listing;
  EXPECT_EQ("ABC,1.5\n", peers::ReadFileBytes(dir.File("ftp.csv")));
}

}  // namespace
