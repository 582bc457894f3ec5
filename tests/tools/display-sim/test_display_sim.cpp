#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/tools/display-sim/sim_process.h"

namespace {

std::string LinkPath(const char* tag) {
  return (std::filesystem::temp_directory_path() / ("h4-sim-" + std::to_string(getpid()) + "-" + tag)).string();
}

bool WriteAll(int fd, const std::vector<unsigned char>& bytes) {
  return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

TEST(DisplaySim, ShowsFramesWrittenToItsPseudoTerminal) {
  const std::string link = LinkPath("show");
  simtest::SimProcess sim;
  ASSERT_TRUE(sim.StartPty(link));
  const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios t{};
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  cfmakeraw(&t);
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
  ASSERT_TRUE(WriteAll(fd, {0xAA, 0x00, 0x06, 0x02, 0x00, 0x02, 0x03, 0x04, 0x05, 0xE9}));
  EXPECT_EQ(sim.ReadLine(), "frame AA 00 06 02 00 02 03 04 05 E9: price 23.45 up");
  ASSERT_TRUE(WriteAll(fd, {0xAA, 0x00, 0x01, 0x80, 0x01, 0x7F}));
  EXPECT_EQ(sim.ReadLine(), "error: bad checksum: got 7F, expected 7E: AA 00 01 80 01 7F");
  // The writer closing its end is no reason to stop listening.
  close(fd);
  const int again = open(link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(again, 0);
  tcsetattr(again, TCSANOW, &t);
  ASSERT_TRUE(WriteAll(again, {0xAA, 0x00, 0x01, 0x80, 0x01, 0x7E}));
  EXPECT_EQ(sim.ReadLine(), "frame AA 00 01 80 01 7E: value 128");
  close(again);
  EXPECT_EQ(sim.Stop(), 1);  // one bad frame was seen
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(DisplaySim, EndsAfterTheFramesAskedFor) {
  const std::string link = LinkPath("count");
  simtest::SimProcess sim;
  ASSERT_TRUE(sim.StartPty(link, {"--frames", "2"}));
  const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  ASSERT_TRUE(WriteAll(fd, {0xAA, 0x00, 0x01, 0x05, 0xF9, 0xAA, 0x00, 0x01, 0x06, 0xF8, 0xAA}));
  EXPECT_EQ(sim.ReadLine(), "frame AA 00 01 05 F9: value 5");
  EXPECT_EQ(sim.ReadLine(), "frame AA 00 01 06 F8: value 6");
  EXPECT_EQ(sim.Wait(), 0);
  close(fd);
}

TEST(DisplaySim, RefusesBadArguments) {
  simtest::SimProcess sim;
  ASSERT_TRUE(sim.Spawn({simtest::SimProcess::Binary(), "--frames", "0", "/dev/null"}));
  EXPECT_EQ(sim.Wait(), 2);
  simtest::SimProcess missing;
  ASSERT_TRUE(missing.Spawn({simtest::SimProcess::Binary(), "/nonexistent/tty"}));
  EXPECT_EQ(missing.Wait(), 1);
}

}  // namespace
