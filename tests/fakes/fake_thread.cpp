// The sleep's clock comes from the headers: Boost.Chrono is not linked.
#define BOOST_CHRONO_HEADER_ONLY

#include "fakes/fake_thread.h"

#include <boost/chrono/duration.hpp>
#include <condition_variable>
#include <mutex>

#include "platform/thread.h"

namespace fakes {
namespace {

std::mutex& Lock() {
  static std::mutex mutex;
  return mutex;
}

std::condition_variable& Changed() {
  static std::condition_variable changed;
  return changed;
}

void RecordEnd(int ThreadFake::*outcome) {
  std::lock_guard<std::mutex> lock(Lock());
  ++(Thread().*outcome);
  Changed().notify_all();
}

}  // namespace

ThreadFake& Thread() {
  static ThreadFake fake;
  return fake;
}

bool WaitUntil(const std::function<bool(const ThreadFake&)>& done) {
  std::unique_lock<std::mutex> lock(Lock());
  return Changed().wait_for(lock, std::chrono::minutes(1),
                            [&] { return done(Thread()); });
}

}  // namespace fakes

namespace platform {

boost::thread StartThread(void (*body)()) {
  {
    std::lock_guard<std::mutex> lock(fakes::Lock());
    fakes::ThreadFake& fake = fakes::Thread();
    if (fake.failStart) throw boost::thread_resource_error();
    ++fake.started;
  }
  // Records how the body ended, which Boost's own thread start would hide.
  return boost::thread([body] {
    try {
      body();
      fakes::RecordEnd(&fakes::ThreadFake::returned);
    } catch (const boost::thread_interrupted&) {
      fakes::RecordEnd(&fakes::ThreadFake::interrupted);
    } catch (...) {
      fakes::RecordEnd(&fakes::ThreadFake::failed);
    }
  });
}

void InterruptibleSleep(std::chrono::milliseconds duration) {
  std::function<void(std::chrono::milliseconds)> hook;
  {
    std::lock_guard<std::mutex> lock(fakes::Lock());
    fakes::ThreadFake& fake = fakes::Thread();
    fake.sleeps.push_back(duration.count());
    fake.nowMs += duration.count();
    hook = fake.onSleep;
    fakes::Changed().notify_all();
  }
  if (hook) hook(duration);
  bool wait = false;
  {
    std::lock_guard<std::mutex> lock(fakes::Lock());
    fakes::ThreadFake& fake = fakes::Thread();
    const bool numbered =
        fake.interruptAtSleep > 0 &&
        fake.sleeps.size() == static_cast<std::size_t>(fake.interruptAtSleep);
    if (numbered || fake.interruptionPending) {
      fake.interruptionPending = false;
      throw boost::thread_interrupted();
    }
    wait = fake.realSleeps;
  }
  if (wait) {
    boost::this_thread::sleep_for(
        boost::chrono::milliseconds(duration.count()));
  }
}

std::chrono::steady_clock::time_point MonotonicNow() {
  std::lock_guard<std::mutex> lock(fakes::Lock());
  return std::chrono::steady_clock::time_point(
      std::chrono::milliseconds(fakes::Thread().nowMs));
}

}  // namespace platform
