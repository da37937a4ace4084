// The sleep's clock comes from the headers: Boost.Chrono is not linked.
#define BOOST_CHRONO_HEADER_ONLY

#include <boost/chrono/duration.hpp>

#include "platform/thread.h"

namespace platform {

boost::thread StartThread(void (*body)()) { return boost::thread(body); }

void InterruptibleSleep(std::chrono::milliseconds duration) {
  boost::this_thread::sleep_for(boost::chrono::milliseconds(duration.count()));
}

std::chrono::steady_clock::time_point MonotonicNow() {
  return std::chrono::steady_clock::now();
}

}  // namespace platform
