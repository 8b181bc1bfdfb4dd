// What the command line needs of its terminal: a line typed at a prompt that Ctrl-C can end, typing
// that is not shown, the terminal's size, and the watcher of Ctrl-C and the request to terminate.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace qor::console {

// Holds Ctrl-C and the request to terminate back from every thread, so that watch_interrupts alone sees
// them; one that comes before the watcher runs waits for it. A closed pipe on standard output ends
// nothing. First thing in main, before any thread.
void hold_interrupts();

// Waits for what hold_interrupts held back: the first Ctrl-C calls `cancel` after printing
// `cancelling`; a second one, or a request to terminate (SIGTERM, SIGHUP; on Windows Ctrl-Break or the
// console closed), calls `last_words` (a report to write) and ends the program at once with status 1.
[[noreturn]] void watch_interrupts(const char* cancelling, const std::function<void()>& cancel,
                                   const std::function<void()>& last_words = {});

// Reads one line from standard input, looking at `give_up` while it waits: a Ctrl-C at the prompt
// ends the question at once. False when the input ended or `give_up` said so. Carriage returns are
// dropped; the line keeps at most `limit` bytes.
bool read_terminal_line(std::string& line, const std::function<bool()>& give_up, std::size_t limit = 4096);

bool is_terminal(std::FILE* stream);

// With a console window of its own (started by a double-click on Windows), waits for a key so that the
// window stays until its last lines are read. Nothing on a terminal that was there before the program.
void pause_own_console();

// Rows and columns of the terminal `out` writes to; false when it is none.
bool terminal_size(std::FILE* out, int& rows, int& columns);

// Stops showing what is typed at the terminal (a password) until show_typing(); false, and nothing
// changed, when standard input is no terminal.
bool hide_typing();
void show_typing();

}  // namespace qor::console
