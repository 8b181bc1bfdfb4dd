#include "sim/image_check.h"

#include <cstring>

namespace qor::sim {

namespace {

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool product_matches(const std::vector<std::uint8_t>& image, std::string_view product_id) {
  if (product_id.size() > HEADER_BYTES) return false;
  for (std::size_t i = 0; i < product_id.size(); ++i) {
    if (lower(static_cast<char>(image[i])) != lower(product_id[i])) return false;
  }
  return true;
}

}  // namespace

ImageVerdict check_image(const std::vector<std::uint8_t>& image, std::string_view product_id,
                         long long tsize) {
  ImageVerdict verdict;
  if (tsize < 0) {
    verdict.reason = "the server announced no size (tsize)";
    return verdict;
  }
  if (static_cast<unsigned long long>(tsize) != image.size()) {
    verdict.reason =
        "received " + std::to_string(image.size()) + " bytes, the server announced " + std::to_string(tsize);
    return verdict;
  }
  if (image.size() < HEADER_BYTES) {
    verdict.reason = "image of " + std::to_string(image.size()) + " bytes is shorter than its header";
    return verdict;
  }
  const void* end = std::memchr(image.data() + VERSION_AT, 0, HEADER_BYTES - VERSION_AT);
  if (end == nullptr) {
    verdict.reason = "version text at byte 92 is not terminated inside the header";
    return verdict;
  }
  verdict.version.assign(reinterpret_cast<const char*>(image.data() + VERSION_AT),
                         static_cast<const std::uint8_t*>(end) - (image.data() + VERSION_AT));
  if (!product_matches(image, product_id)) {
    verdict.reason = "image is for another product (expected '" + std::string(product_id) + "')";
    return verdict;
  }
  verdict.valid = true;
  return verdict;
}

}  // namespace qor::sim
