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

int compare_text_ignoring_case(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    int x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
    if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y || x == 0) return x - y;
  }
  return 0;
}

void format_ipv4(char* out, std::size_t size, std::uint32_t a) {
  std::snprintf(out, size, "%u.%u.%u.%u", (a >> 24) & 0xFF, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
}

}  // namespace qor
