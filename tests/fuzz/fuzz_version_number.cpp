// Version texts come from the device's status page.
#include <cstdint>
#include <cstring>

#include "app/upgrade.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  char text[128];  // the size of the field the device's version is kept in
  std::size_t n = size < sizeof text - 1 ? size : sizeof text - 1;
  std::memcpy(text, data, n);
  text[n] = '\0';
  qor::version_number(text);
  return 0;
}
