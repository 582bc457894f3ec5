#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/evtavek232.h"
#include "tests/peers/fake_sysfs.h"
#include "tests/tools/display-sim/sim_process.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

Bytes Frame(Bytes payload) {
  Bytes buffer(EV_TAVEK_232_MAX_BUF_SIZE_POST, 0);
  std::copy(payload.begin(), payload.end(), buffer.begin());
  int n = static_cast<int>(payload.size());
  EXPECT_TRUE(AddLengthAndChecksum(buffer.data(), &n));
  EXPECT_TRUE(StuffBytes(buffer.data(), &n));
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

std::string Hex(const Bytes& b) {
  std::string s;
  char x[4];
  for (std::size_t i = 0; i < b.size(); ++i) {
    std::snprintf(x, sizeof x, i ? " %02X" : "%02X", b[i]);
    s += x;
  }
  return s;
}

TEST(Framing, PricePacketTestValueAndStuffedLengthAndChecksum) {
  EXPECT_EQ(Frame({0x02, 0x00, 0x02, 0x03, 0x04, 0x05}),
            (Bytes{0xAA, 0x00, 0x06, 0x02, 0x00, 0x02, 0x03, 0x04, 0x05, 0xE9}));
  EXPECT_EQ(Frame({0x80}), (Bytes{0xAA, 0x00, 0x01, 0x80, 0x01, 0x7E}));
  // A checksum of 0x80 and one of 0xAA are stuffed like any byte.
  EXPECT_EQ(Frame({0x7E}), (Bytes{0xAA, 0x00, 0x01, 0x7E, 0x80, 0x01}));
  EXPECT_EQ(Frame({0x54}), (Bytes{0xAA, 0x00, 0x01, 0x54, 0x80, 0x00}));
  // A length of 0xAA or 0x80 is stuffed too.
  Bytes frame = Frame(Bytes(0xAA, 0x01));
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0xAA, 0x00, 0x80, 0x00}));
  frame = Frame(Bytes(0x80, 0x01));
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0xAA, 0x00, 0x80, 0x01}));

  Bytes expected = {0xAA, 0x04, 0x00};
  for (int i = 0; i < 1024; ++i) {
    expected.push_back(0x80);
    expected.push_back(0x00);
  }
  expected.push_back(0xFB);
  EXPECT_EQ(Frame(Bytes(1024, 0xAA)), expected);
  EXPECT_EQ(expected.size(), 2052u);
}

TEST(Framing, RefusesWhatWouldNotFitTheBufferAndWritesNothing) {
  Bytes buffer(EV_TAVEK_232_MAX_BUF_SIZE_POST, 0x11);
  const Bytes before = buffer;
  for (int n : {4094, 4095, 4096}) {
    int count = n;
    EXPECT_FALSE(AddLengthAndChecksum(buffer.data(), &count)) << n;
    EXPECT_EQ(count, n);
    EXPECT_EQ(buffer, before);
  }
  int count = 4093;
  EXPECT_TRUE(AddLengthAndChecksum(buffer.data(), &count));
  EXPECT_EQ(count, 4096);

  // Stuffing adds the start byte and one byte per 0xAA or 0x80.
  Bytes plain(EV_TAVEK_232_MAX_BUF_SIZE_POST, 0x11);
  count = 4096;
  EXPECT_FALSE(StuffBytes(plain.data(), &count));
  EXPECT_EQ(count, 4096);
  EXPECT_EQ(plain, Bytes(EV_TAVEK_232_MAX_BUF_SIZE_POST, 0x11));
  count = 4095;
  EXPECT_TRUE(StuffBytes(plain.data(), &count));
  EXPECT_EQ(count, 4096);
  EXPECT_EQ(plain[0], 0xAA);

  Bytes marks(EV_TAVEK_232_MAX_BUF_SIZE_POST, 0xAA);
  count = 2048;  // 1 + 2 * 2048 bytes
  EXPECT_FALSE(StuffBytes(marks.data(), &count));
  EXPECT_EQ(marks, Bytes(EV_TAVEK_232_MAX_BUF_SIZE_POST, 0xAA));
  count = 2047;
  EXPECT_TRUE(StuffBytes(marks.data(), &count));
  EXPECT_EQ(count, 4095);
}

TEST(FramingDeathTest, CountsOutsideTheBufferStopTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  unsigned char buffer[EV_TAVEK_232_MAX_BUF_SIZE_POST] = {};
  int zero = 0;
  int over = EV_TAVEK_232_MAX_BUF_SIZE_POST + 1;
  int negative = -5;
  EXPECT_DEATH(AddLengthAndChecksum(buffer, &zero), "\\(\\*nBytes\\)>=1.*evtavek232");
  EXPECT_DEATH(AddLengthAndChecksum(buffer, &negative), "\\(\\*nBytes\\)>=1");
  EXPECT_DEATH(AddLengthAndChecksum(buffer, &over),
               "\\(\\*nBytes\\)<=EV_TAVEK_232_MAX_BUF_SIZE_POST.*evtavek232");
  EXPECT_DEATH(StuffBytes(buffer, &zero), "[^)]\\*nBytes>=1.*evtavek232");
  EXPECT_DEATH(StuffBytes(buffer, &over), "[^(]\\*nBytes<=EV_TAVEK_232_MAX_BUF_SIZE_POST.*evtavek232");
}

TEST(SendFrame, ChecksItsArgumentsBeforeThePort) {
  ClosePort();
  const unsigned char byte = 1;
  EXPECT_TRUE(SendFrame(nullptr, 0));
  EXPECT_TRUE(SendFrame(&byte, 0));
  EXPECT_FALSE(SendFrame(nullptr, 1));
  EXPECT_FALSE(SendFrame(&byte, -1));
  Bytes big(1025, 0);
  EXPECT_FALSE(SendFrame(big.data(), 1025));
  // No port open.
  EXPECT_FALSE(SendFrame(&byte, 1));
}

// The display simulator at the far end of a pseudo-terminal that COM9 opens.
class LinkToDisplay : public ::testing::Test {
 protected:
  void SetUp() override {
    link_ = (fs::temp_directory_path() / ("h4-com9-" + std::to_string(getpid()))).string();
    ASSERT_TRUE(sim_.StartPty(link_));
    setenv("TAVLIN_COM9", link_.c_str(), 1);
  }
  void TearDown() override {
    ClosePort();
    unsetenv("TAVLIN_COM9");
    sim_.Stop();
  }
  // Whether something else could take the port now (it is free).
  bool PortFree() {
    HANDLE h = CreateFileA("\\\\.\\COM9", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
  }

  std::string link_;
  simtest::SimProcess sim_;
};

TEST_F(LinkToDisplay, FramesArriveByteExact) {
  ASSERT_TRUE(OpenPort("COM9"));
  const unsigned char price[] = {0x02, 0x00, 0x02, 0x03, 0x04, 0x05};
  ASSERT_TRUE(SendFrame(price, 6));
  EXPECT_EQ(sim_.ReadLine(), "frame AA 00 06 02 00 02 03 04 05 E9: price 23.45 up");

  // Nothing goes out for an empty payload: the next line is the next frame.
  EXPECT_TRUE(SendFrame(price, 0));
  const unsigned char test = 128;
  ASSERT_TRUE(SendFrame(&test, 1));
  EXPECT_EQ(sim_.ReadLine(), "frame AA 00 01 80 01 7E: value 128");

  const Bytes marks(1024, 0xAA);
  ASSERT_TRUE(SendFrame(marks.data(), 1024));
  EXPECT_EQ(sim_.ReadLine(), "frame " + Hex(Frame(marks)) + ": data of 1024 bytes");

  // Every byte value on the way, in one frame.
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
  ASSERT_TRUE(SendFrame(all.data(), 256));
  EXPECT_EQ(sim_.ReadLine(), "frame " + Hex(Frame(all)) + ": data of 256 bytes");

  EXPECT_FALSE(PortFree());
  EXPECT_TRUE(ClosePort());
  EXPECT_TRUE(PortFree());
  EXPECT_FALSE(SendFrame(&test, 1));
  EXPECT_TRUE(ClosePort());
}

TEST_F(LinkToDisplay, OpenFailsForMissingAndHeldPorts) {
  setenv("TAVLIN_COM9", "/nonexistent/h4-tty", 1);
  EXPECT_FALSE(OpenPort("COM9"));
  EXPECT_FALSE(OpenPort("NOPE"));
  setenv("TAVLIN_COM9", link_.c_str(), 1);

  HANDLE other = CreateFileA("\\\\.\\COM9", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(OpenPort("COM9"));
  const unsigned char b = 1;
  EXPECT_FALSE(SendFrame(&b, 1));
  CloseHandle(other);
  EXPECT_TRUE(OpenPort("COM9"));
}

TEST_F(LinkToDisplay, OpeningAgainReleasesThePortOpenBefore) {
  ASSERT_TRUE(OpenPort("COM9"));
  EXPECT_TRUE(OpenPort("COM9"));  // the first handle was closed, so the exclusive open works
  const unsigned char b = 7;
  ASSERT_TRUE(SendFrame(&b, 1));
  EXPECT_EQ(sim_.ReadLine(), "frame AA 00 01 07 F7: value 7");
  // Opening a port that is not there still lets the previous one go.
  EXPECT_FALSE(OpenPort("COM200"));
  EXPECT_TRUE(PortFree());
}

TEST_F(LinkToDisplay, FailedLineSetUpLeavesNoPortOpen) {
  win32::test::FailSetCommState(1);
  EXPECT_FALSE(OpenPort("COM9"));
  EXPECT_TRUE(PortFree());
  const unsigned char b = 1;
  EXPECT_FALSE(SendFrame(&b, 1));
}

// A line left at 9600 baud, two stop bits, hardware and software flow control by an earlier
// user: opening sets 19200 baud, one stop bit, no flow control. The master end of a
// pseudo-terminal reads the state of the line the program opened; a pseudo-terminal always
// carries 8 bits without parity, so those two settings cannot be seen here.
TEST(LineSetUp, OpenSetsNineteenTwoHundredBaudOneStopBitNoFlowControl) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  setenv("TAVLIN_COM8", ptsname(master), 1);
  termios before{};
  ASSERT_EQ(tcgetattr(master, &before), 0);
  cfsetispeed(&before, B9600);
  cfsetospeed(&before, B9600);
  before.c_cflag |= CSTOPB | CRTSCTS;
  before.c_iflag |= IXON | IXOFF;
  ASSERT_EQ(tcsetattr(master, TCSANOW, &before), 0);

  ASSERT_TRUE(OpenPort("COM8"));
  termios line{};
  ASSERT_EQ(tcgetattr(master, &line), 0);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B19200));
  EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B19200));
  EXPECT_EQ(line.c_cflag & (CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_TRUE(ClosePort());
  unsetenv("TAVLIN_COM8");
  close(master);
}

// Port listing from a sysfs tree of the test's own.
class PortListing : public peers::FakeSysfs {
 protected:
  void Uart(int index, int type = 4) { FakeSysfs::Uart("ttyS" + std::to_string(index), type); }

  std::vector<std::string> List() {
    int count = -1;
    char** list = EnumerateComPorts(&count);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back(list[i]);
    if (count == 0) {
      EXPECT_EQ(list, nullptr);
    }
    FreePortList(list, count);
    return names;
  }
};

TEST_F(PortListing, ComPortsPresentInOrderAndParallelPortsSkipped) {
  Device("printer", "lp0");
  Uart(0);
  Uart(1, 0);
  Uart(2);
  EXPECT_EQ(List(), (std::vector<std::string>{"COM1", "COM3"}));
  // The list ended, so the configuration manager was let go.
  EXPECT_EQ(win32::ModuleLoadCount("cfgmgr32"), 0);
  EXPECT_EQ(List(), (std::vector<std::string>{"COM1", "COM3"}));
}

TEST_F(PortListing, NothingPresentGivesNoList) {
  Uart(0, 0);
  Device("printer", "lp0");
  EXPECT_TRUE(List().empty());
}

TEST_F(PortListing, NumberOutsideTheComRangeEndsTheList) {
  Uart(0);
  Uart(299);  // COM300
  Device("tty", "ttyUSB0");
  EXPECT_EQ(List(), (std::vector<std::string>{"COM1"}));
  EXPECT_EQ(win32::ModuleLoadCount("cfgmgr32"), 0);
}

TEST_F(PortListing, StopsAtFiftyNamesAndStartsAgainFromTheFirstDevice) {
  for (int i = 0; i < 60; ++i) Uart(i);
  std::vector<std::string> expected;
  for (int i = 1; i <= 50; ++i) expected.push_back("COM" + std::to_string(i));
  EXPECT_EQ(List(), expected);
  EXPECT_EQ(List(), expected);
}

// A configuration manager of the test's own, whose keys hold the names it is given.
CM_Open_DevNode_Key_Proc g_realOpenKey = nullptr;
std::map<std::string, std::string> g_storedNames;  // real name -> bytes stored instead

CONFIGRET OpenKeyWithStoredNames(DEVINST dev, REGSAM sam, ULONG profile, REGDISPOSITION disp, HKEY* key, ULONG flags) {
  const CONFIGRET r = g_realOpenKey(dev, sam, profile, disp, key, flags);
  if (r != CR_SUCCESS) return r;
  char name[64] = {};
  DWORD size = sizeof name;
  RegQueryValueExA(*key, "PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size);
  const auto it = g_storedNames.find(name);
  if (it == g_storedNames.end()) return r;
  RegCloseKey(*key);
  *key = win32::CreateRegistryKey({{"PortName", {REG_SZ, it->second}}});
  return CR_SUCCESS;
}

TEST_F(PortListing, NamesWithoutTerminatorAreReadSafely) {
  Uart(0);
  Uart(1);
  Uart(2);
  Uart(3);
  // A whole listing first: it lets go of whatever configuration manager an earlier one kept.
  EXPECT_EQ(List(), (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
  HMODULE real = LoadLibraryA("cfgmgr32");
  ASSERT_NE(real, nullptr);
  g_realOpenKey = reinterpret_cast<CM_Open_DevNode_Key_Proc>(GetProcAddress(real, "CM_Open_DevNode_Key"));
  FreeLibrary(real);
  ASSERT_NE(g_realOpenKey, nullptr);
  win32::RegisterBuiltinModule("cfgmgr32.dll", "cfgmgr32.dll",
                               {{0, "CM_Open_DevNode_Key", reinterpret_cast<FARPROC>(&OpenKeyWithStoredNames)}});

  g_storedNames = {
      {"COM1", "COM1"},                                 // no terminator, short: fine
      {"COM2", "COM" + std::string(20, '0') + "2" + '\0'},  // 24 characters and terminator
      {"COM3", "COM3" + std::string(21, 'x')},          // 25 bytes, no terminator: too long
  };
  EXPECT_EQ(List(), (std::vector<std::string>{"COM1", "COM" + std::string(20, '0') + "2"}));
  // A failed read leaves the configuration manager loaded for the next listing.
  EXPECT_GT(win32::ModuleLoadCount("cfgmgr32"), 0);

  g_storedNames = {{"COM2", std::string(30, 'C') + '\0'}};  // more than the buffer holds
  EXPECT_EQ(List(), (std::vector<std::string>{"COM1"}));

  g_storedNames.clear();
  EXPECT_EQ(List(), (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
  EXPECT_EQ(win32::ModuleLoadCount("cfgmgr32"), 0);
  win32::RegisterConfigManagerModule();
}

}  // namespace
