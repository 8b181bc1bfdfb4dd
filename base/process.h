// The one way the program ends, from whichever thread meets the end.
#pragma once

#include <atomic>
#include <functional>
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

// Starts a detached thread of the core. The thread keeps running until its work is done or the process
// ends; nobody joins it (the original program never waited for its threads either).
template <class F>
void start_core_thread(F&& body) {
  std::thread([b = std::forward<F>(body)]() mutable {
    try {
      b();
    } catch (const ProcessExit&) {
    }
  }).detach();
}

// Sleeps in steps of 10 ms until the process ends. Never returns.
[[noreturn]] void sleep_forever();

}  // namespace qor
