// Small text helpers over fixed-size buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qor {

// Copies at most size - 1 bytes of src and always terminates dst (when size > 0).
void copy_text(char* dst, std::size_t size, const char* src);

// Formats an IPv4 address (host byte order) as "%u.%u.%u.%u", most significant byte first.
void format_ipv4(char* out, std::size_t size, std::uint32_t address);

}  // namespace qor
