// A fresh emulated system and freshly filled settings for each test.
#ifndef DIDUROZIR_TESTS_SERVICE_SERVICE_FIXTURE_H_
#define DIDUROZIR_TESTS_SERVICE_SERVICE_FIXTURE_H_

#include <gtest/gtest.h>

#include <cwchar>

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
    fakes::ServiceRuntime().Reset();
    fakes::System().Reset();
    stub::Monitor().Reset();
    settingsInitialized = 0;
    const CServiceManager manager;
    SetSettingText(ServiceSettings.serviceName, kName);
  }

  fakes::ServiceControlFake& scm() { return fakes::ServiceControl(); }
  fakes::ServiceRuntimeFake& runtime() { return fakes::ServiceRuntime(); }
  fakes::SystemFake& system() { return fakes::System(); }
};

#endif  // DIDUROZIR_TESTS_SERVICE_SERVICE_FIXTURE_H_
