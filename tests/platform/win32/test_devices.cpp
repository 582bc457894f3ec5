#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/win32.h"
#include "tests/peers/fake_sysfs.h"

namespace {

namespace fs = std::filesystem;

// A sysfs tree with the test's own ports; the platform reads it instead of /sys.
class FakeSysfs : public peers::FakeSysfs {
 protected:
  void Tty(const std::string& name) { Device("tty", name); }
  void Printer(const std::string& name) { Device("printer", name); }

  // The names a Ports listing gives, read the way a program reads them.
  std::vector<std::string> PortNames(DWORD flags) {
    std::vector<std::string> names;
    GUID guid{};
    DWORD needed = 0;
    EXPECT_TRUE(SetupDiClassGuidsFromNameA("Ports", &guid, 1, &needed));
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, flags);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    HMODULE cfg = LoadLibraryA("cfgmgr32");
    EXPECT_NE(cfg, nullptr);
    auto open = reinterpret_cast<CM_Open_DevNode_Key_Proc>(GetProcAddress(cfg, "CM_Open_DevNode_Key"));
    EXPECT_NE(open, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
      HKEY key = nullptr;
      EXPECT_EQ(open(data.DevInst, KEY_QUERY_VALUE, 0, RegDisposition_OpenExisting, &key, CM_REGISTRY_HARDWARE),
                CR_SUCCESS);
      char name[25] = {};
      DWORD size = sizeof name;
      DWORD type = 0;
      EXPECT_EQ(RegQueryValueExA(key, "portname", nullptr, &type, reinterpret_cast<BYTE*>(name), &size),
                static_cast<LONG>(ERROR_SUCCESS));
      EXPECT_EQ(type, REG_SZ);
      EXPECT_EQ(size, std::string(name).size() + 1);
      names.push_back(name);
      EXPECT_EQ(RegCloseKey(key), static_cast<LONG>(ERROR_SUCCESS));
    }
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    FreeLibrary(cfg);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    return names;
  }
};

TEST_F(FakeSysfs, ListsParallelThenPresentSerialPorts) {
  Uart("ttyS0", 4);
  Uart("ttyS1", 0);
  Uart("ttyS2", 4);
  Uart("ttyS3", 0);
  Tty("ttyUSB0");
  Tty("tty0");
  Tty("ptmx");
  Printer("lp0");
  EXPECT_EQ(PortNames(DIGCF_PRESENT), (std::vector<std::string>{"LPT1", "COM1", "COM3", "COM5"}));
  // Without DIGCF_PRESENT the empty UART slots show too.
  EXPECT_EQ(PortNames(0), (std::vector<std::string>{"LPT1", "COM1", "COM2", "COM3", "COM4", "COM5"}));
}

TEST_F(FakeSysfs, EmptyTreeGivesAnEmptySet) {
  fs::remove_all(root_ / "class");
  EXPECT_TRUE(PortNames(DIGCF_PRESENT).empty());
}

TEST_F(FakeSysfs, NumbersPastTheEndOfTheComRangeAreStillListed) {
  // The listing names every device; deciding what a number means is the caller's business.
  Uart("ttyS299", 4);
  EXPECT_EQ(PortNames(DIGCF_PRESENT), (std::vector<std::string>{"COM300"}));
}

TEST(SetupClasses, PortsClassIsKnownByNameOnly) {
  DWORD needed = 99;
  EXPECT_FALSE(SetupDiClassGuidsFromNameA("Ports", nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(needed, 1u);
  GUID guid{};
  EXPECT_TRUE(SetupDiClassGuidsFromNameA("PORTS", &guid, 1, &needed));
  EXPECT_TRUE(guid == GUID_DEVCLASS_PORTS);
  EXPECT_TRUE(SetupDiClassGuidsFromNameA("Printer", &guid, 1, &needed));
  EXPECT_EQ(needed, 0u);
  EXPECT_TRUE(SetupDiClassGuidsFromNameA("Port", &guid, 1, &needed));
  EXPECT_EQ(needed, 0u);

  // Another class has no devices; no class at all is a caller's mistake.
  GUID other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  HDEVINFO set = SetupDiGetClassDevsA(&other, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
}

TEST_F(FakeSysfs, DeviceRecordsNeedTheirLengthSet) {
  Uart("ttyS0", 4);
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA data{};
  data.cbSize = 32;
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &data));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
  data.cbSize = 28;
  EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
  EXPECT_NE(data.DevInst, 0u);
  EXPECT_TRUE(data.ClassGuid == GUID_DEVCLASS_PORTS);
  SetupDiDestroyDeviceInfoList(set);
}

TEST_F(FakeSysfs, DeviceKeysAnswerLikeTheRegistry) {
  Uart("ttyS2", 4);
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
  SetupDiDestroyDeviceInfoList(set);

  HMODULE cfg = LoadLibraryA("CFGMGR32.DLL");
  ASSERT_NE(cfg, nullptr);
  auto open = reinterpret_cast<CM_Open_DevNode_Key_Proc>(GetProcAddress(cfg, "CM_Open_DevNode_Key"));
  ASSERT_NE(open, nullptr);
  HKEY key = nullptr;
  EXPECT_EQ(open(0, KEY_QUERY_VALUE, 0, RegDisposition_OpenExisting, &key, CM_REGISTRY_HARDWARE), CR_INVALID_DEVNODE);
  EXPECT_EQ(open(data.DevInst, KEY_QUERY_VALUE, 0, RegDisposition_OpenExisting, nullptr, CM_REGISTRY_HARDWARE),
            CR_INVALID_POINTER);
  EXPECT_EQ(open(data.DevInst, KEY_QUERY_VALUE, 0, RegDisposition_OpenExisting, &key, 9), CR_INVALID_FLAG);
  ASSERT_EQ(open(data.DevInst, KEY_QUERY_VALUE, 0, RegDisposition_OpenExisting, &key, CM_REGISTRY_HARDWARE),
            CR_SUCCESS);

  char small[3] = {'x', 'x', 'x'};
  DWORD size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key, "PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
            static_cast<LONG>(ERROR_MORE_DATA));
  EXPECT_EQ(size, 5u);  // "COM3" and its terminator
  EXPECT_EQ(small[0], 'x');
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "PORTNAME", nullptr, nullptr, nullptr, &size), static_cast<LONG>(ERROR_SUCCESS));
  EXPECT_EQ(size, 5u);
  char name[5];
  size = sizeof name;
  EXPECT_EQ(RegQueryValueExA(key, "PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size),
            static_cast<LONG>(ERROR_SUCCESS));
  EXPECT_STREQ(name, "COM3");
  EXPECT_EQ(RegQueryValueExA(key, "FriendlyName", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegCloseKey(key), static_cast<LONG>(ERROR_SUCCESS));
  EXPECT_EQ(RegCloseKey(key), static_cast<LONG>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(RegQueryValueExA(key, "PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size),
            static_cast<LONG>(ERROR_INVALID_HANDLE));
  FreeLibrary(cfg);
}

// The real /sys of the machine: whatever is there lists with COM or LPT names.
TEST(RealSysfs, ListsOnlyNamedPorts) {
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  HMODULE cfg = LoadLibraryA("cfgmgr32");
  auto open = reinterpret_cast<CM_Open_DevNode_Key_Proc>(GetProcAddress(cfg, "CM_Open_DevNode_Key"));
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
    HKEY key = nullptr;
    ASSERT_EQ(open(data.DevInst, KEY_QUERY_VALUE, 0, RegDisposition_OpenExisting, &key, CM_REGISTRY_HARDWARE),
              CR_SUCCESS);
    char name[64] = {};
    DWORD size = sizeof name;
    ASSERT_EQ(RegQueryValueExA(key, "PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size),
              static_cast<LONG>(ERROR_SUCCESS));
    const std::string n(name);
    EXPECT_TRUE(n.rfind("COM", 0) == 0 || n.rfind("LPT", 0) == 0) << n;
    RegCloseKey(key);
  }
  FreeLibrary(cfg);
  SetupDiDestroyDeviceInfoList(set);
}

}  // namespace
