#include "platform/win32/module.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct Module {
  std::string path;
  std::vector<win32::ModuleExport> exports;
  HMODULE handle;
  int loads = 0;
};

struct Modules {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<Module>> byKey;
  std::uintptr_t lastHandle = 0x10000000;
};

Modules& Mods() {
  static Modules* m = new Modules;
  return *m;
}

// The program instance, where a Windows program's image would be mapped.
HINSTANCE const kProgram = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x400000));

// "C:\dir\WSOCK32.DLL", "wsock32.dll" and "WSOCK32" all name the module "wsock32".
std::string KeyOf(const std::string& fileName) {
  const auto slash = fileName.find_last_of("/\\");
  std::string key = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (key.size() > 4 && key.compare(key.size() - 4, 4, ".dll") == 0) key.resize(key.size() - 4);
  return key;
}

std::shared_ptr<Module> LoadedLocked(Modules& m, HMODULE handle) {
  for (const auto& [key, mod] : m.byKey)
    if (mod->handle == handle && mod->loads > 0) return mod;
  return nullptr;
}

std::string ProgramPath() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string("program");
}

DWORD CopyTruncated(const std::string& s, LPSTR buffer, DWORD size) {
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (s.size() < size) {
    std::memcpy(buffer, s.c_str(), s.size() + 1);
    return static_cast<DWORD>(s.size());
  }
  std::memcpy(buffer, s.data(), size - 1);
  buffer[size - 1] = '\0';
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR fileName) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Modules& m = Mods();
  std::lock_guard lock(m.mutex);
  auto it = m.byKey.find(KeyOf(fileName));
  if (it == m.byKey.end()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++it->second->loads;
  return it->second->handle;
}

BOOL FreeLibrary(HMODULE module) {
  if (module == kProgram) return TRUE;
  Modules& m = Mods();
  std::lock_guard lock(m.mutex);
  auto mod = LoadedLocked(m, module);
  if (!mod) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  --mod->loads;
  return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (!name) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (!module || module == kProgram) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  Modules& m = Mods();
  std::lock_guard lock(m.mutex);
  auto mod = LoadedLocked(m, module);
  if (!mod) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  const bool byOrdinal = IS_INTRESOURCE(name);
  const WORD ordinal = LOWORD(reinterpret_cast<std::uintptr_t>(name));
  for (const auto& e : mod->exports) {
    const bool match = byOrdinal ? (ordinal != 0 && e.ordinal == ordinal) : (!e.name.empty() && e.name == name);
    if (match && e.proc) return e.proc;
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (!module || module == kProgram) return CopyTruncated(ProgramPath(), buffer, size);
  std::string path;
  {
    Modules& m = Mods();
    std::lock_guard lock(m.mutex);
    auto mod = LoadedLocked(m, module);
    if (!mod) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    path = mod->path;
  }
  return CopyTruncated(path, buffer, size);
}

HINSTANCE GetModuleHandleA(LPCSTR name) {
  if (!name) return kProgram;
  Modules& m = Mods();
  std::lock_guard lock(m.mutex);
  auto it = m.byKey.find(KeyOf(name));
  if (it == m.byKey.end() || it->second->loads == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return it->second->handle;
}

namespace win32 {

void RegisterBuiltinModule(const std::string& fileName, const std::string& path,
                           std::vector<ModuleExport> exports) {
  Modules& m = Mods();
  std::lock_guard lock(m.mutex);
  auto& slot = m.byKey[KeyOf(fileName)];
  if (slot) {
    // Handle and load count stay: whoever holds the module sees the new exports.
    slot->path = path;
    slot->exports = std::move(exports);
    return;
  }
  m.lastHandle += 0x10000;
  slot = std::make_shared<Module>(Module{path, std::move(exports), reinterpret_cast<HMODULE>(m.lastHandle)});
}

void UnregisterBuiltinModule(const std::string& fileName) {
  Modules& m = Mods();
  std::lock_guard lock(m.mutex);
  m.byKey.erase(KeyOf(fileName));
}

int ModuleLoadCount(const std::string& fileName) {
  Modules& m = Mods();
  std::lock_guard lock(m.mutex);
  auto it = m.byKey.find(KeyOf(fileName));
  return it == m.byKey.end() ? 0 : it->second->loads;
}

}  // namespace win32
