// What the command line needs of its terminal: a line typed at a prompt that Ctrl-C can end, and the
// watcher of Ctrl-C and SIGTERM.
#pragma once

#include <signal.h>

#include <cstddef>
#include <functional>
#include <string>

namespace qor::console {

// Reads one line from standard input, byte by byte, looking at `give_up` between bytes: a Ctrl-C at
// the prompt ends the question at once. False when the input ended or `give_up` said so. Carriage
// returns are dropped; the line keeps at most `limit` bytes.
bool read_terminal_line(std::string& line, const std::function<bool()>& give_up, std::size_t limit = 4096);

// Waits for the signals of `set` (blocked in every thread): the first SIGINT calls `cancel` after
// printing `cancelling`; a second one, or SIGTERM, ends the program at once with status 1.
[[noreturn]] void watch_signals(sigset_t set, const char* cancelling, const std::function<void()>& cancel);

}  // namespace qor::console
