// A service's side of the Service Control Manager: the dispatcher, the
// control handler and status reports.
#ifndef DIDUROZIR_PLATFORM_SERVICE_RUNTIME_H_
#define DIDUROZIR_PLATFORM_SERVICE_RUNTIME_H_

#include <cstdint>

#include "platform/service_control.h"

namespace platform {

// The body of a service, run by the dispatcher on a thread of its own. The
// result is not passed on to the platform.
using ServiceMainFunction = std::uint32_t (*)(std::uint32_t argumentCount,
                                              wchar_t** arguments);
// A control handler of the extended shape (HandlerEx); returns an error code,
// 0 for none.
using ServiceControlHandler = std::uint32_t (*)(std::uint32_t control,
                                                std::uint32_t eventType,
                                                void* eventData, void* context);

// The handle that status reports go through (SERVICE_STATUS_HANDLE). It is
// not closed.
struct ServiceStatusObject;
using ServiceStatusHandle = ServiceStatusObject*;

// Connects the main thread to the Service Control Manager with one service,
// `serviceName`, whose body is `serviceMain`; returns when the service has
// stopped (true), or false at once when the process was not started by the
// Service Control Manager. Only one dispatcher per process.
bool StartServiceDispatcher(const wchar_t* serviceName,
                            ServiceMainFunction serviceMain);

// Registers `handler` for `serviceName`; null on failure.
ServiceStatusHandle RegisterServiceControlHandler(const wchar_t* serviceName,
                                                  ServiceControlHandler handler,
                                                  void* context);

// Reports `status` through `handle`; false when refused, a null handle
// included.
bool ReportServiceStatus(ServiceStatusHandle handle,
                         const ServiceStatus& status);

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_SERVICE_RUNTIME_H_
