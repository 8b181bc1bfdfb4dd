// The firmware images the program carries, and the product they are meant for.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qor {

inline constexpr int TARGET_IMAGE_ID = 112;
inline constexpr int TRANSITION_IMAGE_ID = 319;
inline constexpr const char* FIRMWARE_RESOURCE_TYPE = "QOR_FIRMWARE";
inline constexpr std::size_t IMAGE_HEADER_SIZE = 128;
inline constexpr std::size_t IMAGE_VERSION_OFFSET = 92;
inline constexpr std::uint32_t MAX_IMAGE_SIZE = 33553919;  // 65,535 blocks of 512 bytes, the last short

struct FirmwareImage {
  const unsigned char* data;  // the whole image, header included; lives as long as the process
  std::uint32_t size;
  unsigned char header[IMAGE_HEADER_SIZE];
};

// The version text at header byte 92, NUL-terminated inside the header (a build requirement).
inline const char* image_version(const FirmwareImage& image) {
  return reinterpret_cast<const char*>(image.header + IMAGE_VERSION_OFFSET);
}
// Writes a version there, cut to fit, the rest of the field cleared (for tools and tests).
void set_image_version(FirmwareImage& image, const char* version);

// An image linked into the executable, found by type name and number.
struct FirmwareResource {
  const char* type;
  int id;
  const unsigned char* begin;
  const unsigned char* end;
};

// Each executable links exactly one build flavour, which defines these two.
extern const int initial_upgrade_stage;
const FirmwareResource* firmware_resources(std::size_t& count);

const FirmwareResource* find_firmware_resource(const char* type, int id);

struct UpgradeRun;

// Loads the target image, and the transition image when the run starts in stage 0.
void load_firmware_images(UpgradeRun& run);
// Sets product_display_name and phone_variant from the target image's header.
void identify_product(UpgradeRun& run);

}  // namespace qor
