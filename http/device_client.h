// One HTTP GET to the device, and what the program reads from its reply.
#pragma once

#include <cstdint>

#include "app/globals.h"
#include "http/digest.h"
#include "net/socket.h"

namespace qor {

struct RequestJob {
  AppInstance instance;
  std::uint32_t bind_address;
  std::uint16_t bind_port_base;
  std::uint32_t remote_address;
  std::uint16_t remote_port;
  const char* path;
  char* reply_buffer;
  std::int32_t reply_capacity;
};

}  // namespace qor
