#include "fakes/fake_registry.h"

#include <algorithm>

#include "platform/registry.h"

namespace fakes {

RegistryFake& Registry() {
  static RegistryFake fake;
  return fake;
}

}  // namespace fakes

namespace platform {

// An open key: the path it was opened with.
struct RegistryKey {
  std::wstring path;
};

RegistryKey* OpenMachineKey(const wchar_t* subKey, std::uint32_t* error) {
  fakes::RegistryFake& fake = fakes::Registry();
  fake.openedPaths.emplace_back(subKey);
  const auto refusal = fake.openErrors.find(subKey);
  std::uint32_t result = 0;
  if (refusal != fake.openErrors.end()) {
    result = refusal->second;
  } else if (fake.keys.count(subKey) == 0) {
    result = 2;  // ERROR_FILE_NOT_FOUND
  }
  if (error != nullptr) *error = result;
  if (result != 0) return nullptr;
  ++fake.opened;
  return new RegistryKey{subKey};
}

// Data that don't fit leave the buffer scribbled over, as the system may.
bool ReadKeyValue(RegistryKey* key, const wchar_t* name, wchar_t* buffer,
                  std::size_t units) {
  fakes::RegistryFake& fake = fakes::Registry();
  fake.offeredUnits.push_back(units);
  const auto& values = fake.keys.at(key->path);
  const auto value = values.find(name);
  if (value == values.end()) return false;
  if (value->second.size() > units) {
    std::fill_n(buffer, units, L'X');
    return false;
  }
  std::copy(value->second.begin(), value->second.end(), buffer);
  return true;
}

void CloseKey(RegistryKey* key) {
  ++fakes::Registry().closed;
  delete key;
}

}  // namespace platform
