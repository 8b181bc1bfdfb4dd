// Sets the process-wide values the sequence dialogs read, and puts them back after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "app/firmware.h"
#include "app/globals.h"
#include "tests/support/fake_toolkit.h"

namespace qor::test {

inline void set_image_version(FirmwareImage& image, const char* version) {
  std::memset(image.header + IMAGE_VERSION_OFFSET, 0, IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET);
  copy_text(reinterpret_cast<char*>(image.header + IMAGE_VERSION_OFFSET),
            IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET, version);
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_target_ = target_image;
    saved_transition_ = transition_image;
    std::memcpy(saved_name_, product_display_name, sizeof saved_name_);
    std::memcpy(saved_locals_, local_addresses, sizeof saved_locals_);
    saved_info_ = device_info;
    saved_phone_ = phone_variant;
    saved_stage_ = upgrade_stage.load();
    saved_local_ = local_address;

    copy_text(product_display_name, sizeof product_display_name, "QOR-4710");
    set_image_version(target_image, "3.2.1");
    set_image_version(transition_image, "3.0.5");
    std::memset(local_addresses, 0, sizeof local_addresses);
    local_addresses[0] = 0xC0A80114;  // 192.168.1.20
    local_addresses[1] = 0x0A000005;  // 10.0.0.5
    phone_variant = 0;
    upgrade_stage.store(1);
    device_info = DeviceInfo{};
    device_address = 0;
    std::memset(device_address_text, 0, sizeof device_address_text);
    local_address = 0;
    set_tftp_filename("");
  }

  void TearDown() override {
    target_image = saved_target_;
    transition_image = saved_transition_;
    std::memcpy(product_display_name, saved_name_, sizeof saved_name_);
    std::memcpy(local_addresses, saved_locals_, sizeof saved_locals_);
    device_info = saved_info_;
    phone_variant = saved_phone_;
    upgrade_stage.store(saved_stage_);
    local_address = saved_local_;
  }

  ScopedFakeToolkit fake_;

 private:
  FirmwareImage saved_target_{};
  FirmwareImage saved_transition_{};
  char saved_name_[sizeof product_display_name]{};
  std::uint32_t saved_locals_[MAX_LOCAL_ADDRESSES]{};
  DeviceInfo saved_info_{};
  std::int32_t saved_phone_ = 0;
  std::int32_t saved_stage_ = 1;
  std::uint32_t saved_local_ = 0;
};

}  // namespace qor::test
