// An emulated Service Control Manager behind platform/service_control.h:
// services with states, transitions scripted by the test, failures injected
// per call, and a record of every handle handed out and closed.
#ifndef DIDUROZIR_TESTS_FAKES_FAKE_SERVICE_CONTROL_H_
#define DIDUROZIR_TESTS_FAKES_FAKE_SERVICE_CONTROL_H_

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/service_control.h"

namespace fakes {

// The calls a failure can be injected into.
enum class ScCall {
  kOpenManager,
  kOpenService,
  kCreate,
  kSetDescription,
  kSetFailureActions,
  kDelete,
  kQueryConfig,
  kChangeConfig,
  kStart,
  kInterrogate,  // ControlNamedService with control 4
  kControl,      // ControlNamedService with any other control
};

struct FakeService {
  // As created.
  std::wstring displayName;
  std::uint32_t desiredAccess = 0;
  std::uint32_t serviceType = 16;
  std::uint32_t startType = 2;
  std::uint32_t errorControl = 1;
  std::wstring binaryPathName;
  bool loadOrderGroupNull = true;
  std::wstring loadOrderGroup;
  bool dependenciesNull = true;
  std::wstring dependencies;  // the list up to its closing double NUL
  bool serviceStartNameNull = true;
  bool passwordNull = true;
  int reconfigurations = 0;  // ChangeServiceSettings calls granted

  bool descriptionSet = false;
  std::wstring description;
  bool failureActionsSet = false;  // set with an action array
  std::uint32_t resetPeriod = 0;
  std::vector<platform::ServiceAction> failureActions;

  std::uint32_t state = 1;  // 1 stopped ... 7 paused
  // Transitions: the state a granted start request or stop control leads to,
  // and states that each interrogation takes on first, in order.
  std::uint32_t stateAfterStart = 4;
  std::uint32_t stateAfterStop = 1;
  std::deque<std::uint32_t> upcomingStates;

  int startRequests = 0;
  std::vector<std::uint32_t> controls;  // every control sent, in order
  // The process it runs in; 0: none. Reported as 0 once the service is
  // stopped, as the manager does.
  std::uint32_t processId = 0;
};

// One handle handed out; its value is its index + 1.
struct FakeScHandle {
  bool isManager = false;
  std::size_t manager = 0;  // for a service handle: the manager's index
  std::wstring serviceName;
  std::uint32_t access = 0;
  int closes = 0;
  std::size_t closedAt = 0;  // position in the closing order
};

struct ServiceControlFake {
  std::map<std::wstring, FakeService> services;
  std::vector<FakeScHandle> handles;
  std::size_t closesSoFar = 0;
  int unknownCloses = 0;  // closes of a handle never handed out
  std::uint32_t lastError = 0;

  struct Failure {
    ScCall call;
    int occurrence;  // the nth call of its kind, from 1; 0 for every one
    std::uint32_t error;
  };
  std::vector<Failure> failures;
  std::map<ScCall, int> calls;  // how often each kind was called
  // Every process OpenServiceProcess opened: its PID, and its service's state
  // at the time.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> processOpens;
  bool refuseProcessOpen = false;  // OpenServiceProcess is refused
  // Every WaitForProcessEnd: the PID, and whether the service with that
  // process was stopped by then.
  std::vector<std::pair<std::uint32_t, bool>> processWaits;
  bool processesEnd = true;  // what every WaitForProcessEnd returns

  void Reset() { *this = ServiceControlFake(); }

  FakeService& AddService(const std::wstring& name, std::uint32_t state = 1);
  // Makes the `occurrence`th call (0: every call) of `call` fail with `error`.
  void Fail(ScCall call, std::uint32_t error, int occurrence = 0) {
    failures.push_back({call, occurrence, error});
  }
  bool Has(const std::wstring& name) const { return services.count(name) != 0; }
  int OpenHandles() const;
  // Empty when every handle was closed exactly once and each service handle
  // before its manager; otherwise what went wrong.
  std::string HandleProblems() const;
};

// The process-wide emulation that every test shares; reset it in SetUp.
ServiceControlFake& ServiceControl();

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKE_SERVICE_CONTROL_H_
