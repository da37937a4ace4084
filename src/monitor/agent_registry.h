// The agent's registry keys and how one of their values is read: shared by
// LoadAgentLocation and the -check dry run, which must show what the service
// would read. Internal to the monitor.
#ifndef DIDUROZIR_MONITOR_AGENT_REGISTRY_H_
#define DIDUROZIR_MONITOR_AGENT_REGISTRY_H_

#include <cstdint>
#include <string>

namespace agent_registry {

extern const wchar_t kServiceKey[];  // under HKEY_LOCAL_MACHINE
extern const wchar_t kProductKey[];
extern const char kServiceKeyText[];  // the same, named in full for texts
extern const char kProductKeyText[];

// How reading one value of a key under HKEY_LOCAL_MACHINE went.
struct ValueRead {
  std::uint32_t openError = 0;  // the key's: 0 opened, else the system's code
  bool read = false;            // the value was read whole
  // Up to its first NUL unit, or the whole buffer of 260 units when the data
  // fill it without one; empty when the value can't be read whole.
  std::wstring text;
};
ValueRead ReadValue(const wchar_t* keyPath, const wchar_t* name);

}  // namespace agent_registry

#endif  // DIDUROZIR_MONITOR_AGENT_REGISTRY_H_
