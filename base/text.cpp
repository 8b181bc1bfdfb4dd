#include "base/text.h"

#include <cstdio>
#include <string>

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

namespace {

// Length of the valid UTF-8 sequence at the start of `s` (shortest form, no surrogates, up to U+10FFFF),
// or 0 when it is not one.
std::size_t utf8_sequence(std::string_view s, std::uint32_t& code) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  std::size_t n = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 ? 2 : 0;
  if (n == 0 || b0 > 0xF4 || s.size() < n) return 0;
  code = b0 & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    code = (code << 6) | (b & 0x3F);
  }
  const bool shortest = (n == 3 && code >= 0x800) || (n == 4 && code >= 0x10000) || n == 2;
  if (!shortest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string visible_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char escape[8];
  while (!text.empty()) {
    const auto b = static_cast<unsigned char>(text[0]);
    std::size_t used = 1;
    if (b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
    } else if (b < 0x80) {
      std::snprintf(escape, sizeof escape, "\\x%02x", b);
      out += escape;
    } else if (std::uint32_t code = 0; (used = utf8_sequence(text, code)) != 0) {
      if (code <= 0x9F) {
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
        out += escape;
      } else {
        out.append(text.substr(0, used));
      }
    } else {
      used = 1;
      std::snprintf(escape, sizeof escape, "\\x%02x", b);
      out += escape;
    }
    text.remove_prefix(used);
  }
  return out;
}

}  // namespace qor
