#ifndef DIDUROZIR_TESTS_FAKES_FAKES_H_
#define DIDUROZIR_TESTS_FAKES_FAKES_H_

#include "fakes/fake_command.h"
#include "fakes/fake_console.h"
#include "fakes/fake_event_log.h"
#include "fakes/fake_file.h"
#include "fakes/fake_pipe.h"
#include "fakes/fake_process_handle.h"
#include "fakes/fake_process_list.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_security.h"
#include "fakes/fake_service_control.h"
#include "fakes/fake_service_runtime.h"
#include "fakes/fake_system.h"
#include "fakes/fake_thread.h"

namespace fakes {

// Every fake back to a freshly booted system: no failures armed, counters at
// zero. Only while no thread started by the code under test is running.
void ResetAll();

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKES_H_
