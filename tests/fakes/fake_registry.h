// The emulated machine registry behind platform/registry.h.
#ifndef DIDUROZIR_TESTS_FAKES_FAKE_REGISTRY_H_
#define DIDUROZIR_TESTS_FAKES_FAKE_REGISTRY_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fakes {

struct RegistryFake {
  // Keys under HKEY_LOCAL_MACHINE by path, each with its values by name. A
  // value is its data as wide units, exactly as stored: no terminator is
  // added, and embedded NULs are kept.
  std::map<std::wstring, std::map<std::wstring, std::wstring>> keys;
  // Keys whose open fails with this error code (5: access denied), whether
  // or not they are in `keys`.
  std::map<std::wstring, std::uint32_t> openErrors;

  std::vector<std::wstring> openedPaths;  // every key asked for, in order
  std::vector<std::size_t> offeredUnits;  // buffer size of every value read
  int opened = 0;                         // keys handed out
  int closed = 0;                         // keys closed

  void Reset() { *this = RegistryFake(); }
};

RegistryFake& Registry();

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKE_REGISTRY_H_
