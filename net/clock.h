// A 32-bit millisecond clock that wraps to 0, like the system timer the program was written for.
#pragma once

#include <cstdint>

namespace qor {

std::uint32_t time_get_time();

// Tests only: moves the clock so that a wrap can be provoked.
void set_clock_offset(std::uint32_t offset);

void sleep_ms(unsigned ms);

}  // namespace qor
