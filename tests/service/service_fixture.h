// A fresh emulated system and freshly filled settings for each test.
#ifndef DIDUROZIR_TESTS_SERVICE_SERVICE_FIXTURE_H_
#define DIDUROZIR_TESTS_SERVICE_SERVICE_FIXTURE_H_

#include <gtest/gtest.h>

#include <cwchar>

#include "fakes/fake_event_log.h"
#include "fakes/fake_process_handle.h"
#include "fakes/fake_service_control.h"
#include "fakes/fake_service_runtime.h"
#include "fakes/fake_system.h"
#include "monitor_stub.h"
#include "service/service.h"

class ServiceFixture : public ::testing::Test {
 protected:
  static constexpr const wchar_t* kName = L"didurozir";

  void SetUp() override {
    fakes::ServiceControl().Reset();
    fakes::EventLog().Reset();
    fakes::ProcessHandles().Reset();
    fakes::ServiceRuntime().Reset();
    fakes::System().Reset();
    stub::Monitor().Reset();
    settingsInitialized = 0;
    const CServiceManager manager;
    SetSettingText(ServiceSettings.serviceName, kName);
  }

  // ServiceMain until the fake's sleep budget ends it. The budget's end
  // reaches ServiceMain as a failure, which it reports as stopped with 1064;
  // that report and code belong to the test's way of ending the run, and are
  // taken off so that what is left is the run itself.
  std::uint32_t ServiceMainUntilSleepBudget() {
    const std::uint32_t result = ServiceMain(0, nullptr);
    auto& reports = runtime().reports;
    if (result != 1064 || reports.empty()) return result;
    const platform::ServiceStatus& last = reports.back().status;
    if (last.currentState != kServiceStopped || last.win32ExitCode != 1064) {
      return result;
    }
    reports.pop_back();
    return 0;
  }

  fakes::ServiceControlFake& scm() { return fakes::ServiceControl(); }
  fakes::ServiceRuntimeFake& runtime() { return fakes::ServiceRuntime(); }
  fakes::SystemFake& system() { return fakes::System(); }
};

#endif  // DIDUROZIR_TESTS_SERVICE_SERVICE_FIXTURE_H_
