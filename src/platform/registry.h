// Reading values of the machine-wide registry (HKEY_LOCAL_MACHINE).
#ifndef DIDUROZIR_PLATFORM_REGISTRY_H_
#define DIDUROZIR_PLATFORM_REGISTRY_H_

#include <cstddef>
#include <cstdint>
#include <utility>

namespace platform {

// An open key.
struct RegistryKey;

// Opens `subKey` of HKEY_LOCAL_MACHINE for reading; null when it can't, with
// the system's error code in `error` when given (2: no such key, 5: access
// denied), 0 there on success.
RegistryKey* OpenMachineKey(const wchar_t* subKey,
                            std::uint32_t* error = nullptr);

// Reads the data of the value `name` into `buffer`, offering all `units` wide
// units of it; the value's type is not asked for and no terminator is added.
// True when the data fitted and were read. On false the buffer's content is
// undefined (the system may have written part of it).
bool ReadKeyValue(RegistryKey* key, const wchar_t* name, wchar_t* buffer,
                  std::size_t units);

void CloseKey(RegistryKey* key);

// Owns an open key and closes it exactly once.
class ScopedRegistryKey {
 public:
  explicit ScopedRegistryKey(RegistryKey* key = nullptr) : key_(key) {}
  ScopedRegistryKey(ScopedRegistryKey&& other) noexcept
      : key_(std::exchange(other.key_, nullptr)) {}
  ScopedRegistryKey& operator=(ScopedRegistryKey&& other) noexcept {
    if (this != &other) {
      Reset();
      key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
  }
  ScopedRegistryKey(const ScopedRegistryKey&) = delete;
  ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;
  ~ScopedRegistryKey() { Reset(); }

  bool IsValid() const { return key_ != nullptr; }
  RegistryKey* Get() const { return key_; }
  void Reset() {
    if (key_ != nullptr) CloseKey(std::exchange(key_, nullptr));
  }

 private:
  RegistryKey* key_;  // Null when nothing is owned.
};

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_REGISTRY_H_
