// Small text helpers over fixed-size buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qor {

// Copies at most size - 1 bytes of src and always terminates dst (when size > 0).
void copy_text(char* dst, std::size_t size, const char* src);

// Compares at most n bytes, ignoring the case of ASCII letters, up to the first NUL of either text:
// as strncasecmp does in the C locale, which not every platform's library has.
int compare_text_ignoring_case(const char* a, const char* b, std::size_t n);

// Formats an IPv4 address (host byte order) as "%u.%u.%u.%u", most significant byte first.
void format_ipv4(char* out, std::size_t size, std::uint32_t address);

// What a device or a peer sent, made safe for a terminal, a table or a trace line: control characters
// (C0, DEL, and C1 whether as a byte or as UTF-8) and bytes that are not UTF-8 become visible escapes
// ("\x1b", "\u009b"); valid UTF-8 text stays as it is.
std::string visible_text(std::string_view text);

}  // namespace qor
