// A sysfs tree of the test's own; the platform reads it instead of /sys while the test runs.
#pragma once
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32/win32.h"

namespace peers {

class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("h4-sysfs-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "class" / "tty");
    win32::SetSysfsRoot(root_.string());
  }
  void TearDown() override {
    win32::SetSysfsRoot("/sys");
    std::filesystem::remove_all(root_);
  }
  // A serial port whose driver reports `type` (0: no UART behind it).
  void Uart(const std::string& name, int type) {
    Device("tty", name);
    std::ofstream(root_ / "class" / "tty" / name / "type") << type << "\n";
  }
  void Device(const std::string& cls, const std::string& name) {
    std::filesystem::create_directories(root_ / "class" / cls / name);
  }

  std::filesystem::path root_;
};

}  // namespace peers
