#include "fakes/fakes.h"

namespace fakes {

void ResetAll() {
  Command().Reset();
  Console().Reset();
  EventLog().Reset();
  File().Reset();
  Pipe().Reset();
  ProcessHandles().Reset();
  ProcessList().Reset();
  Registry().Reset();
  Security().Reset();
  ServiceControl().Reset();
  ServiceRuntime().Reset();
  System().Reset();
  Thread().Reset();
}

}  // namespace fakes
