// Modules: built-in modules known by file name (case-insensitive), looked up by ordinal or name.
#pragma once
#include <string>
#include <vector>
#include "platform/win32/types.h"

HMODULE LoadLibraryA(LPCSTR fileName);
BOOL FreeLibrary(HMODULE module);
// name is either a NUL-terminated export name or an ordinal made with MAKEINTRESOURCEA.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
// The running program's instance (what WinMain would receive).
HINSTANCE GetModuleHandleA(LPCSTR name);

namespace win32 {

struct ModuleExport {
  WORD ordinal;       // 0: exported by name only
  std::string name;   // empty: exported by ordinal only
  FARPROC proc;
};

// Makes a module loadable by LoadLibraryA under fileName (matched case-insensitively, with or
// without a directory or the ".DLL" suffix). path is what GetModuleFileNameA reports.
// Registering a name again replaces the module. Tests use it for modules of their own.
void RegisterBuiltinModule(const std::string& fileName, const std::string& path,
                           std::vector<ModuleExport> exports);
void UnregisterBuiltinModule(const std::string& fileName);
// How many times the module is currently loaded (LoadLibraryA minus FreeLibrary); 0 if unknown.
int ModuleLoadCount(const std::string& fileName);

}  // namespace win32
