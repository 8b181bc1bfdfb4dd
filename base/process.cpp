#include "base/process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace qor {

namespace {
// The status of the first end, no_code until then. A thread that merely noticed the end
// (sleep_forever) also comes through end_process, and must not race the real end to _Exit with its
// own status: a failed run would then leave with 0.
constexpr int no_code = -1;
std::atomic<int> first_code{no_code};
std::atomic<EndProcessHook> end_hook{nullptr};
thread_local RunScope* thread_scope = nullptr;
}  // namespace

void end_process(int code) {
  int expected = no_code;
  if (!first_code.compare_exchange_strong(expected, code)) code = expected;
  if (EndProcessHook hook = end_hook.load()) hook(code);
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}

bool process_ending() {
  return first_code.load() != no_code;
}

void set_end_process_hook(EndProcessHook hook) {
  end_hook.store(hook);
}

void reset_process_ending() {
  first_code.store(no_code);
}

void sleep_forever() {
  for (;;) {
    if (process_ending()) end_process(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

RunScope* current_run_scope() {
  return thread_scope;
}

InRunScope::InRunScope(RunScope* scope) : previous_(thread_scope) {
  thread_scope = scope;
}

InRunScope::~InRunScope() {
  thread_scope = previous_;
}

void end_run() {
  if (!thread_scope) end_process(0);
  thread_scope->end();
  throw RunExit{};
}

bool run_ending() {
  return process_ending() || (thread_scope && thread_scope->ending());
}

void wait_for_run_end() {
  for (;;) {
    if (run_ending()) end_run();
    // The scope's end wakes it at once; the process's end (_Exit, or a test's hook) is looked for.
    if (thread_scope)
      thread_scope->wait_for_end(std::chrono::milliseconds(100));
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace qor
