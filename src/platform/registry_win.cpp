#include <windows.h>

#include "platform/registry.h"

namespace platform {
namespace {

// A key is its HKEY, which is never null once opened.
HKEY ToHandle(RegistryKey* key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

RegistryKey* OpenMachineKey(const wchar_t* subKey, std::uint32_t* error) {
  HKEY key = nullptr;
  const LONG result =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ, &key);
  if (error != nullptr) *error = static_cast<std::uint32_t>(result);
  if (result != ERROR_SUCCESS) return nullptr;
  return reinterpret_cast<RegistryKey*>(key);
}

bool ReadKeyValue(RegistryKey* key, const wchar_t* name, wchar_t* buffer,
                  std::size_t units) {
  if (units > MAXDWORD / sizeof(wchar_t)) return false;
  DWORD size = static_cast<DWORD>(units * sizeof(wchar_t));
  return RegQueryValueExW(ToHandle(key), name, nullptr, nullptr,
                          reinterpret_cast<BYTE*>(buffer),
                          &size) == ERROR_SUCCESS;
}

void CloseKey(RegistryKey* key) { RegCloseKey(ToHandle(key)); }

}  // namespace platform
