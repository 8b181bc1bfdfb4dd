// The one way the program ends, from whichever thread meets the end.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace qor {

// Flushes stdout and stderr and ends the process at once with `code`, without running static
// destructors: other threads may still be blocked in connect or recv, and the GUI may be live.
[[noreturn]] void end_process(int code = 0);

// True once end_process has been called. Loops that wait for ever watch it, so that a replaced hook
// (tests) can bring every thread of the run to its end.
bool process_ending();

// Replaces what end_process does after it has marked the process as ending. The hook must not return
// normally (it may throw ProcessExit); null restores the default. Front ends use it to pick their own
// exit status; tests use it to observe the end of a run without losing the test process.
using EndProcessHook = void (*)(int code);
void set_end_process_hook(EndProcessHook hook);
void reset_process_ending();  // tests only: a new run in the same process

// What a test hook throws. Threads started with start_core_thread stop quietly on it.
struct ProcessExit {
  int code;
};

// One run among several in the process (one device of a fleet). A thread that works for such a run is
// in its scope, and the end of the run is then the end of the run's threads alone: end_run marks the
// scope as ending and throws RunExit, and the run's other threads stop at their next look at
// run_ending(). A thread in no scope works for the process's only run, whose end ends the process.
// A scope outlives every thread of its run (the fleet keeps it until the process ends).
class RunScope {
 public:
  RunScope() = default;
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;
  virtual ~RunScope() = default;

  bool ending() const { return ending_.load(); }
  void end() {
    {
      std::lock_guard lock(mutex_);
      ending_.store(true);
    }
    ended_.notify_all();
  }
  // Blocks until the run ends or `limit` has passed; true when it ended.
  bool wait_for_end(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, limit, [this] { return ending_.load(); });
  }

 private:
  std::atomic<bool> ending_{false};
  std::mutex mutex_;
  std::condition_variable ended_;
};

// The scope of the calling thread; null outside any.
RunScope* current_run_scope();

// Puts the calling thread in `scope` (null: in none) for the life of the object.
class InRunScope {
 public:
  explicit InRunScope(RunScope* scope);
  ~InRunScope();
  InRunScope(const InRunScope&) = delete;
  InRunScope& operator=(const InRunScope&) = delete;

 private:
  RunScope* previous_;
};

// What end_run throws in a scope. Threads started with start_core_thread stop quietly on it; whoever
// starts a run in a scope catches it.
struct RunExit {};

// Ends the run of the calling thread: in a scope, that run alone (RunExit); otherwise the process, with
// status 0 as end_process(0).
[[noreturn]] void end_run();

// True once the process is ending, or the run of the calling thread's scope. Loops that wait for ever
// watch it.
bool run_ending();

// Starts a detached thread of the core, in the scope of the calling thread. The thread keeps running
// until its work is done or its run ends; nobody joins it (the original program never waited for its
// threads either).
template <class F>
void start_core_thread(F&& body) {
  std::thread([b = std::forward<F>(body), scope = current_run_scope()]() mutable {
    InRunScope in(scope);
    try {
      b();
    } catch (const ProcessExit&) {
    } catch (const RunExit&) {
    }
  }).detach();
}

// Sleeps in steps of 10 ms until the process ends. Never returns.
[[noreturn]] void sleep_forever();

// Waits until the run of the calling thread ends (run_ending), then ends it here too: in a scope, woken
// by the scope's end (a fleet keeps a hundred such threads, which must not wake a hundred times a second
// each); otherwise in steps of 10 ms.
[[noreturn]] void wait_for_run_end();

}  // namespace qor
