// What the device checks in an image it has received, before it agrees to flash it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qor::sim {

inline constexpr std::size_t HEADER_BYTES = 128;
inline constexpr std::size_t VERSION_AT = 92;

struct ImageVerdict {
  bool valid = false;
  std::string reason;   // why it was refused; empty when valid
  std::string version;  // the header's version text, when it has one
};

// `product_id` is compared with the start of the image without regard to ASCII case; an empty one
// accepts any product. `tsize` is the size the server announced, or -1 when it announced none.
ImageVerdict check_image(const std::vector<std::uint8_t>& image, std::string_view product_id,
                         long long tsize);

}  // namespace qor::sim
