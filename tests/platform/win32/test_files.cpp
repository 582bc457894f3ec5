#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "platform/win32/detail/handles.h"
#include "platform/win32/file.h"

namespace {

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/win32-files-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
  std::string Path(const std::string& name) const { return dir + "/" + name; }
  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static HANDLE Open(const std::string& path, DWORD disposition, DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return CreateFileA(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  std::string dir;
};

TEST_F(Files, CreateNewRefusesAnExistingFile) {
  HANDLE h = Open(Path("a"), CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(h);
  EXPECT_EQ(Open(Path("a"), CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
}

TEST_F(Files, CreateAlwaysTruncatesAndSaysTheFileExisted) {
  HANDLE h = Open(Path("b"), CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(h);
  Put(Path("b"), "old contents");
  h = Open(Path("b"), CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  CloseHandle(h);
}

TEST_F(Files, OpenAlwaysKeepsContents) {
  HANDLE h = Open(Path("c"), OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(h);
  Put(Path("c"), "keep");
  h = Open(Path("c"), OPEN_ALWAYS);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetFileSize(h, nullptr), 4u);
  CloseHandle(h);
}

TEST_F(Files, OpenAndTruncateExistingNeedTheFile) {
  EXPECT_EQ(Open(Path("missing"), OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(Path("missing"), TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(Path("no/such/dir/file"), OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Open(Path("no/file"), CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  Put(Path("t"), "twelve bytes");
  HANDLE h = Open(Path("t"), TRUNCATE_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  CloseHandle(h);
  // Truncation needs write access.
  EXPECT_EQ(Open(Path("t"), TRUNCATE_EXISTING, GENERIC_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Open(Path("t"), 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(Path("t"), 6), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Files, RefusalsCarryWindowsCodes) {
  // A directory is not a file.
  EXPECT_EQ(Open(dir, OPEN_EXISTING, GENERIC_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open(dir, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  if (geteuid() != 0) {
    Put(Path("ro"), "x");
    chmod(Path("ro").c_str(), 0444);
    EXPECT_EQ(Open(Path("ro"), OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(Open(Path(std::string(300, 'n')), CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(Open("", OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(Files, BackslashesSeparateDirectories) {
  mkdir(Path("sub").c_str(), 0755);
  std::string windowsPath = dir + "\\sub\\w.txt";
  HANDLE h = CreateFileA(windowsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "hi", 2, &n, nullptr));
  CloseHandle(h);
  EXPECT_EQ(Contents(Path("sub/w.txt")), "hi");
  EXPECT_TRUE(DeleteFileA(windowsPath.c_str()));
  EXPECT_FALSE(DeleteFileA(windowsPath.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Files, ReadWriteAndEndOfFile) {
  HANDLE h = Open(Path("rw"), CREATE_NEW);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "0123456789", 10, &n, nullptr));
  EXPECT_EQ(n, 10u);
  EXPECT_EQ(SetFilePointer(h, 3, nullptr, FILE_BEGIN), 3u);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 7u);
  EXPECT_STREQ(buf, "3456789");
  // The end of the file is a successful read of nothing.
  n = 99;
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SetFilePointer(h, -2, nullptr, FILE_END), 8u);
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_CURRENT), 7u);
  EXPECT_EQ(SetFilePointer(h, -8, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 7u);  // unmoved by the failure
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReadFile(h, buf, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(Files, AccessModesAreEnforced) {
  Put(Path("m"), "data");
  HANDLE r = Open(Path("m"), OPEN_EXISTING, GENERIC_READ);
  DWORD n = 5;
  EXPECT_FALSE(WriteFile(r, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(n, 0u);
  CloseHandle(r);
  HANDLE w = Open(Path("m"), OPEN_EXISTING, GENERIC_WRITE);
  char c;
  EXPECT_FALSE(ReadFile(w, &c, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(w);
}

TEST_F(Files, PositionsBeyondThirtyTwoBitsAreNotTruncated) {
  HANDLE h = Open(Path("big"), CREATE_NEW);
  LONG high = 1;
  // 4 GiB + 16: representable only with the high part.
  EXPECT_EQ(SetFilePointer(h, 16, &high, FILE_BEGIN), 16u);
  EXPECT_EQ(high, 1);
  LONG zeroHigh = 0;
  EXPECT_EQ(SetFilePointer(h, 0, &zeroHigh, FILE_CURRENT), 16u);
  EXPECT_EQ(zeroHigh, 1);
  SetLastError(0);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_NE(GetLastError(), ERROR_SUCCESS);
  DWORD n;
  ASSERT_TRUE(WriteFile(h, "z", 1, &n, nullptr));  // sparse: no 4 GiB on disk
  DWORD sizeHigh = 0;
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 17u);
  EXPECT_EQ(sizeHigh, 1u);
  EXPECT_EQ(GetFileSize(h, nullptr), INVALID_FILE_SIZE);
  EXPECT_NE(GetLastError(), ERROR_SUCCESS);
  CloseHandle(h);
}

TEST_F(Files, TempPathHonoursTmpdirAndEndsInASlash) {
  const char* saved = std::getenv("TMPDIR");
  const std::string keep = saved ? saved : "";
  setenv("TMPDIR", dir.c_str(), 1);
  char buf[512];
  const DWORD n = GetTempPathA(sizeof buf, buf);
  EXPECT_EQ(std::string(buf), dir + "/");
  EXPECT_EQ(n, dir.size() + 1);
  // Too small: the size needed, terminator included, and the buffer untouched.
  char small[4] = "abc";
  EXPECT_EQ(GetTempPathA(sizeof small, small), dir.size() + 2);
  EXPECT_STREQ(small, "abc");
  unsetenv("TMPDIR");
  EXPECT_EQ(GetTempPathA(sizeof buf, buf), 5u);
  EXPECT_STREQ(buf, "/tmp/");
  if (saved) setenv("TMPDIR", keep.c_str(), 1);
}

TEST_F(Files, TempFileNamesAreUniqueAndCreated) {
  char name[MAX_PATH];
  std::set<std::string> names;
  for (int i = 0; i < 20; ++i) {
    const UINT u = GetTempFileNameA(dir.c_str(), "fmlxyz", 0, name);
    ASSERT_NE(u, 0u);
    const std::string s = name;
    EXPECT_EQ(s.rfind(dir + "/fml", 0), 0u) << s;
    EXPECT_EQ(s.substr(s.size() - 4), ".TMP");
    EXPECT_EQ(access(name, F_OK), 0) << s;
    names.insert(s);
  }
  EXPECT_EQ(names.size(), 20u);
  // A given number is used as it is, and nothing is created.
  ASSERT_EQ(GetTempFileNameA((dir + "/").c_str(), "ab", 0x1A2B, name), 0x1A2Bu);
  EXPECT_EQ(std::string(name), dir + "/ab1A2B.TMP");
  EXPECT_NE(access(name, F_OK), 0);
  EXPECT_EQ(GetTempFileNameA(Path("nowhere").c_str(), "x", 0, name), 0u);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetTempFileNameA(std::string(300, 'd').c_str(), "x", 0, name), 0u);
  EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
}

TEST_F(Files, DeviceNamesGoToTheDeviceLayerAndHandlesAreNotReused) {
  EXPECT_EQ(CreateFileA("\\\\.\\COM250", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_NE(GetLastError(), ERROR_SUCCESS);
  HANDLE a = Open(Path("h"), CREATE_ALWAYS);
  CloseHandle(a);
  HANDLE b = Open(Path("h"), CREATE_ALWAYS);
  EXPECT_NE(a, b);
  CloseHandle(b);
}

TEST(KernelObjects, DefaultsFailAsInvalidFunction) {
  struct Bare : win32::detail::KernelObject {};
  HANDLE h = win32::detail::AddHandle(std::make_unique<Bare>());
  char c;
  DWORD n;
  EXPECT_FALSE(ReadFile(h, &c, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  EXPECT_FALSE(WriteFile(h, &c, 1, &n, nullptr));
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetFileSize(h, nullptr), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  EXPECT_NE(win32::detail::HandleAs<Bare>(h), nullptr);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(win32::detail::FromHandle(h), nullptr);
  EXPECT_FALSE(win32::detail::RemoveHandle(h));
}

}  // namespace
