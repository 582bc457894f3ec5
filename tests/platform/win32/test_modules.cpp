#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win32/module.h"

namespace {

int One() { return 1; }
int Two() { return 2; }

FARPROC Proc(int (*f)()) { return reinterpret_cast<FARPROC>(f); }

class Modules : public ::testing::Test {
 protected:
  void SetUp() override {
    win32::RegisterBuiltinModule("TESTMOD.DLL", "C:\\WINDOWS\\SYSTEM\\TESTMOD.DLL",
                                 {{1, "one", Proc(One)}, {2, "", Proc(Two)}, {0, "named_only", Proc(One)}});
  }
  void TearDown() override { win32::UnregisterBuiltinModule("testmod.dll"); }
};

TEST_F(Modules, LoadByAnySpellingOfTheFileName) {
  for (const char* name : {"TESTMOD.DLL", "testmod.dll", "TestMod", "C:\\Windows\\System32\\testmod.dll",
                           "/usr/lib/TESTMOD.DLL"}) {
    SCOPED_TRACE(name);
    HMODULE m = LoadLibraryA(name);
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(FreeLibrary(m));
  }
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("testmod.exe"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryA("nothere"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST_F(Modules, LoadsAreCountedAndTheLastFreeInvalidatesTheHandle) {
  HMODULE a = LoadLibraryA("testmod");
  HMODULE b = LoadLibraryA("TESTMOD.DLL");
  EXPECT_EQ(a, b);
  EXPECT_EQ(win32::ModuleLoadCount("TestMod.dll"), 2);
  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_NE(GetProcAddress(a, MAKEINTRESOURCEA(1)), nullptr);
  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_EQ(win32::ModuleLoadCount("testmod"), 0);
  EXPECT_EQ(GetProcAddress(a, MAKEINTRESOURCEA(1)), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_FALSE(FreeLibrary(a));
  EXPECT_EQ(win32::ModuleLoadCount("never-registered"), 0);
}

TEST_F(Modules, ProceduresByOrdinalAndByName) {
  HMODULE m = LoadLibraryA("testmod");
  EXPECT_EQ(GetProcAddress(m, MAKEINTRESOURCEA(1)), Proc(One));
  EXPECT_EQ(GetProcAddress(m, MAKEINTRESOURCEA(2)), Proc(Two));
  EXPECT_EQ(GetProcAddress(m, "one"), Proc(One));
  EXPECT_EQ(GetProcAddress(m, "named_only"), Proc(One));
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(m, MAKEINTRESOURCEA(3)), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  // An export without an ordinal is not found as ordinal 0; names are case-sensitive.
  EXPECT_EQ(GetProcAddress(m, MAKEINTRESOURCEA(0)), nullptr);
  EXPECT_EQ(GetProcAddress(m, "ONE"), nullptr);
  EXPECT_EQ(GetProcAddress(m, ""), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  FreeLibrary(m);
}

TEST_F(Modules, ReRegisteringKeepsTheHandleAndChangesTheExports) {
  HMODULE m = LoadLibraryA("testmod");
  win32::RegisterBuiltinModule("testmod", "/lib/testmod", {{2, "two", Proc(Two)}});
  EXPECT_EQ(GetProcAddress(m, MAKEINTRESOURCEA(1)), nullptr);
  EXPECT_EQ(GetProcAddress(m, "two"), Proc(Two));
  char path[64];
  EXPECT_EQ(GetModuleFileNameA(m, path, sizeof path), 12u);
  EXPECT_STREQ(path, "/lib/testmod");
  FreeLibrary(m);
}

TEST_F(Modules, FileNameIsTruncatedToTheBuffer) {
  HMODULE m = LoadLibraryA("testmod");
  const std::string full = "C:\\WINDOWS\\SYSTEM\\TESTMOD.DLL";
  char buf[64];
  EXPECT_EQ(GetModuleFileNameA(m, buf, sizeof buf), full.size());
  EXPECT_EQ(buf, full);
  char small[8];
  std::memset(small, 'x', sizeof small);
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(m, small, sizeof small), sizeof small);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), full.substr(0, 7));
  EXPECT_EQ(GetModuleFileNameA(m, small, 0), 0u);
  FreeLibrary(m);
  EXPECT_EQ(GetModuleFileNameA(m, buf, sizeof buf), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST_F(Modules, ProgramInstance) {
  HINSTANCE self = GetModuleHandleA(nullptr);
  EXPECT_NE(self, nullptr);
  EXPECT_EQ(self, GetModuleHandleA(nullptr));
  char path[4096];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  ASSERT_GT(n, 0u);
  EXPECT_NE(std::string(path).find("test_modules"), std::string::npos);
  EXPECT_EQ(GetModuleHandleA("testmod"), nullptr);  // not loaded yet
  HMODULE m = LoadLibraryA("testmod");
  EXPECT_EQ(GetModuleHandleA("TESTMOD.DLL"), m);
  FreeLibrary(m);
}

}  // namespace
