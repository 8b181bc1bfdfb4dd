#include <gtest/gtest.h>

#include <cstring>

#include "app/upgrade.h"
#include "base/firmware.h"
#include "base/run.h"
#include "base/text.h"

namespace qor {
namespace {

struct VersionCase {
  const char* text;
  std::int32_t value;
};

class VersionNumber : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionNumber, ReadsUpToThreeNumbersAsStrtoulDoes) {
  EXPECT_EQ(version_number(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(WorkedValues, VersionNumber,
                         ::testing::Values(VersionCase{"3.2.1", 30201}, VersionCase{"3.2", 302},
                                           VersionCase{"3.2.1.7", 30201}, VersionCase{"3.1", 301},
                                           VersionCase{"3.0.5", 30005}, VersionCase{"", 0},
                                           VersionCase{"1.08.2", 10000}, VersionCase{"1.0x1f.2", 13102},
                                           VersionCase{"v2.1", 201}, VersionCase{"abc2.1", 0},
                                           VersionCase{" 3.2.1", 30201}));

// On a 64-bit build strtoul reads more than 32 bits; the numbers must saturate as a 32-bit one does.
INSTANTIATE_TEST_SUITE_P(ThirtyTwoBitStrtoul, VersionNumber,
                         ::testing::Values(VersionCase{"4294967296", -1}, VersionCase{"99999999999.1", -99},
                                           VersionCase{"-4294967296", -1}, VersionCase{"-2", -2},
                                           VersionCase{" -4294967295", 1}, VersionCase{"4294967295", -1},
                                           // 4294967295 * 100 wraps as 32-bit arithmetic does.
                                           VersionCase{"4294967295.1", -99}));

struct ProductCase {
  const char* header;
  const char* display;
  std::int32_t phone;
};

class IdentifyProduct : public ::testing::TestWithParam<ProductCase> {};

TEST_P(IdentifyProduct, MatchesTheFirstRowIgnoringCase) {
  UpgradeRun run;
  std::memcpy(run.target_image.header, GetParam().header, std::strlen(GetParam().header));
  run.phone_variant = 7;
  identify_product(run);
  EXPECT_STREQ(run.product_display_name, GetParam().display);
  EXPECT_EQ(run.phone_variant, GetParam().phone);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IdentifyProduct,
    ::testing::Values(ProductCase{"QoR4710fFiRmWaRe", "QOR-4710", 0}, ProductCase{"VORPEX", "QOR-520", 1},
                      ProductCase{"vorpex-phone", "QOR-520", 1}, ProductCase{"qor99001x", "QOR-9900", 0},
                      ProductCase{"QOR6600", "QOR-3300/6600", 0}, ProductCase{"qor3301", "QOR-3301", 0},
                      ProductCase{"qor99", "ODM-Product", 0}, ProductCase{"acme1234", "ODM-Product", 0},
                      ProductCase{"", "ODM-Product", 0}));

TEST(FirmwareImages, StandardBuildCarriesTheSampleTargetAlone) {
  UpgradeRun run;
  ASSERT_EQ(initial_upgrade_stage, 1);
  load_firmware_images(run);
  const FirmwareImage& target_image = run.target_image;
  const FirmwareImage& transition_image = run.transition_image;
  ASSERT_NE(target_image.data, nullptr);
  EXPECT_EQ(target_image.size, 1050000u);
  EXPECT_EQ(std::memcmp(target_image.data, "QoR4710fFiRmWaRe", 16), 0);
  EXPECT_EQ(std::memcmp(target_image.header, target_image.data, sizeof target_image.header), 0);
  EXPECT_STREQ(image_version(target_image), "3.2.1");
  EXPECT_EQ(transition_image.data, nullptr);
  EXPECT_EQ(transition_image.size, 0u);
  EXPECT_EQ(find_firmware_resource(FIRMWARE_RESOURCE_TYPE, TRANSITION_IMAGE_ID), nullptr);
  EXPECT_EQ(find_firmware_resource("OTHER_TYPE", TARGET_IMAGE_ID), nullptr);
  identify_product(run);
  EXPECT_STREQ(run.product_display_name, "QOR-4710");
}

TEST(StageDecision, ComparesTheDeviceWithTheTransitionVersion) {
  UpgradeRun run;
  set_image_version(run.transition_image, "3.0.5");
  struct Case {
    const char* device;
    std::int32_t stage;
  } cases[] = {{"3.0.5", 1}, {"3.2.1", 1},     {"3.1", 0},      {"3.0.4", 0},
               {"", 0},      {"3.2.1(NT)", 0}, {"3.2.1 (nt", 1}};
  for (const Case& c : cases) {
    copy_text(run.device_info.software_version, sizeof run.device_info.software_version, c.device);
    run.upgrade_stage.store(0);
    decide_upgrade_stage(run);
    EXPECT_EQ(run.upgrade_stage.load(), c.stage) << c.device;
  }
}

}  // namespace
}  // namespace qor
