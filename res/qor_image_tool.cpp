// Makes the sample firmware images of the standard build, and checks any image before it is embedded:
// the program relies on things about its images that it cannot check at run time.
//
//   qor_image_tool make OUT PRODUCT_ID VERSION SIZE SEED
//   qor_image_tool check FILE
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::size_t HEADER_SIZE = 128;
constexpr std::size_t VERSION_OFFSET = 92;
constexpr std::uint64_t MAX_SIZE = 33553919;  // 65,535 TFTP blocks of 512 bytes

int make(const char* out, const std::string& product, const std::string& version, std::uint64_t size,
         std::uint32_t seed) {
  if (size < HEADER_SIZE || product.size() > VERSION_OFFSET ||
      version.size() >= HEADER_SIZE - VERSION_OFFSET) {
    std::fprintf(stderr, "qor_image_tool: bad arguments for %s\n", out);
    return 2;
  }
  std::vector<unsigned char> image(size);
  std::uint32_t x = seed ? seed : 1;  // xorshift32: a body that does not compress, the same every build
  for (auto& b : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<unsigned char>(x >> 24);
  }
  std::memset(image.data(), 0, HEADER_SIZE);
  std::memcpy(image.data(), product.data(), product.size());
  std::memcpy(image.data() + VERSION_OFFSET, version.data(), version.size());
  std::ofstream f(out, std::ios::binary);
  f.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (!f) {
    std::fprintf(stderr, "qor_image_tool: cannot write %s\n", out);
    return 1;
  }
  return 0;
}

int check(const char* path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    std::fprintf(stderr, "firmware image %s: cannot be read\n", path);
    return 1;
  }
  std::vector<unsigned char> image((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (image.size() < HEADER_SIZE) {
    std::fprintf(stderr, "firmware image %s: %zu bytes; an image needs a header of at least 128 bytes\n",
                 path, image.size());
    return 1;
  }
  bool terminated = false;
  for (std::size_t i = VERSION_OFFSET; i < HEADER_SIZE; ++i)
    terminated = terminated || image[i] == 0;
  if (!terminated) {
    std::fprintf(stderr,
                 "firmware image %s: the version text at byte 92 has no NUL before byte 128 of the header\n",
                 path);
    return 1;
  }
  if (image.size() > MAX_SIZE) {
    std::fprintf(stderr,
                 "firmware image %s: %zu bytes; TFTP can serve at most 33553919 bytes (65535 blocks)\n", path,
                 image.size());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], "make") == 0) {
    return make(argv[2], argv[3], argv[4], std::strtoull(argv[5], nullptr, 0),
                static_cast<std::uint32_t>(std::strtoul(argv[6], nullptr, 0)));
  }
  if (argc == 3 && std::strcmp(argv[1], "check") == 0) return check(argv[2]);
  std::fprintf(stderr, "usage: qor_image_tool make OUT PRODUCT_ID VERSION SIZE SEED | check FILE\n");
  return 2;
}
