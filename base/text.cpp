#include "base/text.h"

#include <cstdio>

namespace qor {

void copy_text(char* dst, std::size_t size, const char* src) {
  if (size == 0) return;
  std::size_t n = 0;
  while (n + 1 < size && src[n] != '\0') {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = '\0';
}

void format_ipv4(char* out, std::size_t size, std::uint32_t a) {
  std::snprintf(out, size, "%u.%u.%u.%u", (a >> 24) & 0xFF, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
}

}  // namespace qor
