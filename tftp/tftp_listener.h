// The TFTP server endpoint: waits for the device's read request and hands it to the transfer.
#pragma once

#include <cstdint>

namespace qor {

// Binds UDP port 69 or the next free one up to 168 on `local_addr`, starts the listener thread and
// returns the bound port. Does not return on failure.
std::uint16_t start_tftp_listener(std::uint32_t local_addr);

}  // namespace qor
