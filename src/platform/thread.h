// The monitor's threads: starting one, and the sleeps where it can be stopped.
#ifndef DIDUROZIR_PLATFORM_THREAD_H_
#define DIDUROZIR_PLATFORM_THREAD_H_

#include <boost/thread/thread.hpp>
#include <chrono>

namespace platform {

// Starts a Boost thread that runs `body`. Throws boost::thread_resource_error
// when the thread can't be created.
boost::thread StartThread(void (*body)());

// Sleeps for `duration` on the calling thread. When an interruption of the
// calling Boost thread is requested before or during the sleep, it ends at
// once by throwing boost::thread_interrupted.
void InterruptibleSleep(std::chrono::milliseconds duration);

// A clock that only moves forward, for the record's time spans.
std::chrono::steady_clock::time_point MonotonicNow();

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_THREAD_H_
