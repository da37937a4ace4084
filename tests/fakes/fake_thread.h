// Emulated sleeps and recorded threads behind platform/thread.h.
#ifndef DIDUROZIR_TESTS_FAKES_FAKE_THREAD_H_
#define DIDUROZIR_TESTS_FAKES_FAKE_THREAD_H_

#include <chrono>
#include <functional>
#include <vector>

namespace fakes {

// Shared with the threads under test: they update it under a lock of the fake.
// Read it on the test thread only after WaitUntil (or after the threads have
// ended), and set it up before starting any.
struct ThreadFake {
  // Every sleep asked for, in milliseconds, in order.
  std::vector<long long> sleeps;
  // What MonotonicNow tells, in milliseconds: every sleep moves it on by its
  // length, when it starts.
  long long nowMs = 0;
  // The sleep with this number (counted from 1) throws
  // boost::thread_interrupted; 0 for none.
  int interruptAtSleep = 0;
  // The next sleep throws boost::thread_interrupted, as a stop request's
  // interruption would; cleared when it does.
  bool interruptionPending = false;
  // Sleeps really wait, interruptibly, after being recorded (thread tests);
  // otherwise they return at once.
  bool realSleeps = false;
  // Runs at every sleep after it was recorded, on the sleeping thread; it may
  // throw (boost::thread_interrupted, as a stop during the sleep would).
  std::function<void(std::chrono::milliseconds)> onSleep;

  bool failStart = false;  // StartThread throws boost::thread_resource_error
  int started = 0;         // threads created
  int returned = 0;        // thread bodies that returned
  int interrupted = 0;     // thread bodies left by boost::thread_interrupted
  int failed = 0;          // thread bodies left by any other exception

  int Ended() const { return returned + interrupted + failed; }
  void Reset() { *this = ThreadFake(); }
};

ThreadFake& Thread();

// Blocks until `done` holds; it is checked under the fake's lock whenever a
// sleep starts or a thread ends. False when that takes an unreasonably long
// time (a hung test fails instead of blocking the run).
bool WaitUntil(const std::function<bool(const ThreadFake&)>& done);

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKE_THREAD_H_
