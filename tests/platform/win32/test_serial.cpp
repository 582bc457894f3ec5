#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/win32.h"

namespace {

// A pseudo-terminal whose slave is what COM7 opens; the test reads the master end.
class PtyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = ptsname(master_);
    setenv("TAVLIN_COM7", slave_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TAVLIN_COM7");
    if (master_ >= 0) close(master_);
  }

  HANDLE Open(const char* name = "\\\\.\\COM7") {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  // Reads until `count` bytes came or the deadline passed.
  std::vector<unsigned char> ReadMaster(std::size_t count, int deadlineMs = 5000) {
    std::vector<unsigned char> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    while (got.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
      unsigned char buf[4096];
      const ssize_t r = read(master_, buf, sizeof buf);
      if (r <= 0) break;
      got.insert(got.end(), buf, buf + r);
    }
    return got;
  }

  bool MasterHasInput() {
    pollfd p{master_, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
  }

  int master_ = -1;
  std::string slave_;
};

TEST_F(PtyPort, OpensExclusivelyAndReopensAfterClose) {
  HANDLE h = Open();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  HANDLE second = Open();
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  // The same port under a lower-case name is still the same device.
  EXPECT_EQ(Open("\\\\.\\com7"), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CloseHandle(h));
  HANDLE again = Open();
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(again));
}

TEST_F(PtyPort, MissingAndMalformedNamesFail) {
  setenv("TAVLIN_COM7", "/nonexistent/tty-h4", 1);
  EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  for (const char* name : {"\\\\.\\COM0", "\\\\.\\COM257", "\\\\.\\COM07", "\\\\.\\COM", "\\\\.\\LPT1",
                           "\\\\.\\COM7x"}) {
    EXPECT_EQ(Open(name), INVALID_HANDLE_VALUE) << name;
  }
  // A plain file is no serial line.
  const std::string file = std::filesystem::temp_directory_path() / ("h4-notatty-" + std::to_string(getpid()));
  std::ofstream(file) << "x";
  setenv("TAVLIN_COM7", file.c_str(), 1);
  EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
  std::filesystem::remove(file);
}

TEST_F(PtyPort, LineSetUpSucceedsWithoutModemLinesAndMakesTheLineRaw) {
  HANDLE h = Open();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetupComm(h, 4096, 4096));
  EXPECT_TRUE(PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
  COMMTIMEOUTS t{MAXDWORD, 1, 10, 1, 10};
  EXPECT_TRUE(SetCommTimeouts(h, &t));
  COMMTIMEOUTS back{};
  ASSERT_TRUE(GetCommTimeouts(h, &back));
  EXPECT_EQ(back.WriteTotalTimeoutConstant, 10u);

  DCB dcb{};
  ASSERT_TRUE(GetCommState(h, &dcb));
  dcb.BaudRate = CBR_19200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fOutxCtsFlow = 0;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fInX = dcb.fOutX = 0;
  dcb.fBinary = 1;
  dcb.fParity = 1;
  ASSERT_TRUE(SetCommState(h, &dcb)) << GetLastError();

  DCB now{};
  ASSERT_TRUE(GetCommState(h, &now));
  EXPECT_EQ(now.BaudRate, 19200u);
  EXPECT_EQ(now.ByteSize, 8);
  EXPECT_EQ(now.Parity, NOPARITY);
  EXPECT_EQ(now.StopBits, ONESTOPBIT);
  EXPECT_EQ(now.fOutxCtsFlow, 0u);
  EXPECT_EQ(now.fOutX, 0u);

  // A pseudo-terminal has no DTR to clear.
  EXPECT_FALSE(EscapeCommFunction(h, CLRDTR));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);

  // Raw: a line feed and 0xFF leave as they are, no CR is added.
  const unsigned char bytes[] = {'a', '\n', 0xFF, 0x11, 0x13, '\r'};
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, bytes, sizeof bytes, &written, nullptr));
  EXPECT_EQ(written, sizeof bytes);
  EXPECT_EQ(ReadMaster(sizeof bytes), std::vector<unsigned char>(bytes, bytes + sizeof bytes));
  EXPECT_FALSE(MasterHasInput());
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(PtyPort, RejectsLineStatesItCannotSet) {
  HANDLE h = Open();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DCB dcb{};
  ASSERT_TRUE(GetCommState(h, &dcb));
  DCB bad = dcb;
  bad.BaudRate = 12345;
  EXPECT_FALSE(SetCommState(h, &bad));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  bad = dcb;
  bad.ByteSize = 9;
  EXPECT_FALSE(SetCommState(h, &bad));
  bad = dcb;
  bad.Parity = 7;
  EXPECT_FALSE(SetCommState(h, &bad));
  EXPECT_FALSE(PurgeComm(h, 0x100));
  EXPECT_FALSE(EscapeCommFunction(h, 77));
  CloseHandle(h);
}

TEST_F(PtyPort, CommCallsRefuseHandlesThatAreNoPort) {
  HANDLE h = Open();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CloseHandle(h));
  DCB dcb{};
  COMMTIMEOUTS t{};
  for (HANDLE bad : {h, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr)}) {
    EXPECT_FALSE(SetupComm(bad, 1, 1));
    EXPECT_FALSE(PurgeComm(bad, PURGE_TXCLEAR));
    EXPECT_FALSE(SetCommTimeouts(bad, &t));
    EXPECT_FALSE(GetCommState(bad, &dcb));
    EXPECT_FALSE(SetCommState(bad, &dcb));
    EXPECT_FALSE(EscapeCommFunction(bad, SETDTR));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    DWORD written = 7;
    EXPECT_FALSE(WriteFile(bad, "x", 1, &written, nullptr));
  }
}

TEST_F(PtyPort, WriteGivesUpAtItsTimeOutWithAShortCount) {
  HANDLE h = Open();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 100};
  ASSERT_TRUE(SetCommTimeouts(h, &t));
  // Nobody reads the master, so the pseudo-terminal fills up long before this is written.
  std::vector<char> big(4 << 20, 'z');
  DWORD written = 0;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &written, nullptr));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, big.size());
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  EXPECT_LT(took, std::chrono::seconds(10));  // bounded by the time-out, not by a reader
  EXPECT_EQ(ReadMaster(written).size(), written);
  CloseHandle(h);
}

TEST_F(PtyPort, WriteWithoutTimeOutWaitsForTheReader) {
  HANDLE h = Open();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS t{};
  ASSERT_TRUE(SetCommTimeouts(h, &t));
  std::vector<char> big(256 << 10);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  std::vector<unsigned char> got;
  std::thread reader([&] { got = ReadMaster(big.size(), 20000); });
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &written, nullptr));
  reader.join();
  EXPECT_EQ(written, big.size());
  ASSERT_EQ(got.size(), big.size());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), reinterpret_cast<unsigned char*>(big.data())));
  CloseHandle(h);
}

// The default COM numbering, from a sysfs tree of the test's own.
TEST(ComMapping, NumbersSerialDevicesInOrderAndLetsTheEnvironmentOverride) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("h4-sysfs-map-" + std::to_string(getpid()));
  for (const char* tty : {"ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyUSB0", "ttyUSB2", "ttyACM0", "tty1", "ttyS01", "pts"}) {
    std::filesystem::create_directories(root / "class" / "tty" / tty);
  }
  win32::SetSysfsRoot(root.string());
  EXPECT_EQ(win32::DefaultComName("ttyS0"), "COM1");
  EXPECT_EQ(win32::DefaultComName("ttyS3"), "COM4");
  EXPECT_EQ(win32::DefaultComName("ttyUSB0"), "COM5");
  EXPECT_EQ(win32::DefaultComName("ttyUSB2"), "COM7");
  EXPECT_EQ(win32::DefaultComName("ttyACM0"), "COM8");
  EXPECT_EQ(win32::DefaultComName("tty1"), "");
  EXPECT_EQ(win32::DefaultComName("ttyS01"), "");
  EXPECT_EQ(win32::ComDevicePath(2), "/dev/ttyS1");
  EXPECT_EQ(win32::ComDevicePath(8), "/dev/ttyACM0");
  EXPECT_EQ(win32::ComDevicePath(6), "");
  EXPECT_EQ(win32::ComDevicePath(0), "");
  EXPECT_EQ(win32::ComDevicePath(257), "");
  setenv("TAVLIN_COM2", "/dev/pts/99", 1);
  EXPECT_EQ(win32::ComDevicePath(2), "/dev/pts/99");
  setenv("TAVLIN_COM2", "", 1);
  EXPECT_EQ(win32::ComDevicePath(2), "/dev/ttyS1");
  unsetenv("TAVLIN_COM2");
  win32::SetSysfsRoot("/sys");
  std::filesystem::remove_all(root);
}

}  // namespace
