// Files named on the command line, read with a bound: a device list or a password is small, and a path
// that names a device or a pipe without end (/dev/zero) must not fill the memory.
#pragma once

#include <cstddef>
#include <string>

namespace qor::console {

enum class FileRead { read, unreadable, too_large };

// Reads the whole file into `text` when it has at most `limit` bytes.
FileRead read_small_file(const std::string& path, std::size_t limit, std::string& text);

// Writes `text` to `path` whole or not at all, through a temporary file of its own beside it: a reader
// never sees half a file, nor the file of an earlier run, and no file of the user's is overwritten on
// the way.
bool write_whole(const std::string& path, const std::string& text);

// True when a file can be created beside `path` (so that write_whole may succeed later); nothing is left.
bool can_write_beside(const std::string& path);

// True when others than the file's owner may read it (never on Windows, whose modes do not say).
bool readable_by_others(const std::string& path);

}  // namespace qor::console
