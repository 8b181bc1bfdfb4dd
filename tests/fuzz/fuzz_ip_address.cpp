// The address the user types.
#include <cstdint>
#include <cstring>
#include <string>

#include "ui/dialogs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The address field yields at most 31 characters and a terminator.
  char text[32];
  std::size_t n = size < sizeof text - 1 ? size : sizeof text - 1;
  std::memcpy(text, data, n);
  text[n] = '\0';
  std::uint32_t out = 1;
  int code = qor::parse_ip_address(text, &out);
  if (code < 0 || code > 5 || (code != 0 && out != 0)) __builtin_trap();
  return 0;
}
