#include "base/firmware.h"

#include <cstring>

#include "base/run.h"
#include "base/text.h"

namespace qor {

namespace {

struct ProductRow {
  const char* prefix;
  std::size_t compared;
  const char* display_name;
  std::int32_t phone;
};

constexpr ProductRow product_table[] = {
    {"qor9900", 7, "QOR-9900", 0}, {"qor6600", 7, "QOR-3300/6600", 0}, {"qor3301", 7, "QOR-3301", 0},
    {"vorpex", 6, "QOR-520", 1},   {"qor4710", 7, "QOR-4710", 0},
};

void load_image(FirmwareImage& image, int id) {
  image = FirmwareImage{};
  const FirmwareResource* r = find_firmware_resource(FIRMWARE_RESOURCE_TYPE, id);
  if (!r || !r->begin) return;  // the build guarantees the images it needs
  image.data = r->begin;
  image.size = static_cast<std::uint32_t>(r->end - r->begin);
  std::memcpy(image.header, image.data, image.size < IMAGE_HEADER_SIZE ? image.size : IMAGE_HEADER_SIZE);
}

}  // namespace

void set_image_version(FirmwareImage& image, const char* version) {
  char* field = reinterpret_cast<char*>(image.header + IMAGE_VERSION_OFFSET);
  std::memset(field, 0, IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET);
  copy_text(field, IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET, version);
}

const FirmwareResource* find_firmware_resource(const char* type, int id) {
  std::size_t count = 0;
  const FirmwareResource* table = firmware_resources(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (table[i].id == id && std::strcmp(table[i].type, type) == 0) return &table[i];
  }
  return nullptr;
}

void load_firmware_images(UpgradeRun& run) {
  load_image(run.target_image, TARGET_IMAGE_ID);
  if (run.upgrade_stage.load() == 0) {
    load_image(run.transition_image, TRANSITION_IMAGE_ID);
  } else {
    run.transition_image = FirmwareImage{};
  }
}

void identify_product(UpgradeRun& run) {
  run.phone_variant = 0;
  // The header is not NUL-terminated at byte 7; the comparison stops at the count or at a NUL.
  const char* id = reinterpret_cast<const char*>(run.target_image.header);
  for (const ProductRow& row : product_table) {
    if (compare_text_ignoring_case(row.prefix, id, row.compared) == 0) {
      copy_text(run.product_display_name, sizeof run.product_display_name, row.display_name);
      run.phone_variant = row.phone;
      return;
    }
  }
  copy_text(run.product_display_name, sizeof run.product_display_name, "ODM-Product");
}

}  // namespace qor
