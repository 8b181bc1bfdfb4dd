#include <gtest/gtest.h>

#include <cstring>

#include "tests/ui/dialog_fixture.h"
#include "ui/dialog_templates.h"
#include "ui/dialogs.h"
#include "ui/error_box.h"
#include "ui/texts.h"

namespace qor::test {
namespace {

class SequenceDialogs : public DialogTest {
 protected:
  // Runs a modal dialog whose user sends `commands` in turn, and returns its end value.
  std::intptr_t run(int template_id, DialogProc proc, std::vector<int> commands) {
    return dialog(template_id, proc, [commands](FakeToolkit& fake, Window w) {
      for (int id : commands)
        fake.click(w, id);
    });
  }
  std::string text(int id) { return state().controls[id].text; }
};

struct EndCase {
  int template_id;
  DialogProc proc;
  std::vector<int> commands;
  std::intptr_t result;
};

class DialogEnd : public SequenceDialogs, public ::testing::WithParamInterface<EndCase> {};

TEST_P(DialogEnd, EndsWithOneForOkAndZeroForCancel) {
  const EndCase& c = GetParam();
  EXPECT_EQ(run(c.template_id, c.proc, c.commands), c.result);
}

// Commands of other controls are not an answer: the dialog waits for 1 or 2.
INSTANTIATE_TEST_SUITE_P(
    All, DialogEnd,
    ::testing::Values(EndCase{IDD_WARNING, warning_dialog_proc, {1}, 1},
                      EndCase{IDD_WARNING, warning_dialog_proc, {2}, 0},
                      EndCase{IDD_WARNING, warning_dialog_proc, {warning_ids::TEXT, 1}, 1},
                      EndCase{IDD_CONFIRM, confirm_dialog_proc, {1}, 1},
                      EndCase{IDD_CONFIRM, confirm_dialog_proc, {confirm_ids::SERIAL_NUMBER, 2}, 0},
                      EndCase{IDD_CONFIRM_TRANSITION, confirm_dialog_proc, {1}, 1},
                      EndCase{IDD_SUCCESS, success_dialog_proc, {1}, 1},
                      EndCase{IDD_SUCCESS, success_dialog_proc, {2}, 0}));

TEST_F(SequenceDialogs, WarningShowsItsTextWithItsLineBreaksAndFocusOnTheDefaultCancel) {
  run(IDD_WARNING, warning_dialog_proc, {2});
  EXPECT_EQ(state().title, "QOR-4710 Firmware Upgrade");
  EXPECT_EQ(state().focus, IDCANCEL);
  // Enter presses the default button, which must be Cancel.
  for (const ControlTemplate& c : find_dialog_template(IDD_WARNING)->controls) {
    EXPECT_EQ((c.flags & CF_DEFAULT) != 0, c.id == IDCANCEL) << c.id;
  }
  EXPECT_EQ(
      text(warning_ids::TEXT),
      "WARNING: Forcing a firmware upgrade on your QOR\r\nwithout prior approval from your service "
      "provider or\r\nnetwork administrator may cause interruption to your\r\nservice.  If your QOR is "
      "managed by a service\r\nprovider who retains administrative control of the\r\ndevice, please "
      "contact the service provider for\r\nauthorization before proceeding.  In such cases, the\r\nmost "
      "current, approved for service firmware is\r\nautomatically provided by your service provider "
      "without\r\nany onus on the end user to upgrade manually.");
}

TEST_F(SequenceDialogs, ConfirmInTargetStageShowsDeviceFields) {
  copy_text(run_.device_info.serial_number, sizeof run_.device_info.serial_number, "FM5023A11234");
  copy_text(run_.device_info.mac_address, sizeof run_.device_info.mac_address, "00:0E:08:12:34:56");
  copy_text(run_.device_info.software_version, sizeof run_.device_info.software_version, "3.1.7(GYa)");
  copy_text(run_.device_info.hardware_version, sizeof run_.device_info.hardware_version, "3.1.1");
  copy_text(run_.device_info.product_name, sizeof run_.device_info.product_name, "QOR4710");
  run(IDD_CONFIRM, confirm_dialog_proc, {2});
  EXPECT_EQ(state().title, "Confirm Upgrade to Ver. 3.2.1");
  EXPECT_EQ(text(IDC_MAIN_TEXT),
            "The following information was extracted\r\nfrom your QOR. Please click \"Upgrade\"\r\nif you "
            "would like to proceed. If you would\r\nlike to quit click \"Cancel\".");
  EXPECT_EQ(text(confirm_ids::SERIAL_NUMBER), "FM5023A11234");
  EXPECT_EQ(text(confirm_ids::MAC_ADDRESS), "00:0E:08:12:34:56");
  EXPECT_EQ(text(confirm_ids::SOFTWARE_VERSION), "3.1.7(GYa)");
  EXPECT_EQ(text(confirm_ids::HARDWARE_VERSION), "3.1.1");
  EXPECT_EQ(text(confirm_ids::PRODUCT_NAME), "QOR4710");
  EXPECT_EQ(state().focus, IDOK);
}

TEST_F(SequenceDialogs, ConfirmInTransitionStageNamesTheTransitionVersion) {
  run_.upgrade_stage.store(0);
  run(IDD_CONFIRM_TRANSITION, confirm_dialog_proc, {2});
  EXPECT_EQ(state().title, "Confirm Upgrade to Ver. 3.2.1");
  EXPECT_EQ(text(IDC_MAIN_TEXT),
            std::string(texts::CONFIRM) +
                "\r\n\r\nNote: Since your current firmware version\r\nis older than 3.0.5, "
                "this upgrade procedure\r\nrequires additional steps and will be\r\n"
                "slightly longer.\r\n");
  EXPECT_EQ(state().focus, IDOK);
}

TEST_F(SequenceDialogs, UnterminatedImageVersionStopsAtTheHeaderEnd) {
  std::memset(run_.target_image.header + IMAGE_VERSION_OFFSET, 'x', IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET);
  run(IDD_CONFIRM, confirm_dialog_proc, {2});
  EXPECT_EQ(state().title, "Confirm Upgrade to Ver. " + std::string(36, 'x'));
}

TEST_F(SequenceDialogs, SuccessNamesTheDeviceAndItsNewVersion) {
  copy_text(run_.device_address_text, sizeof run_.device_address_text, "10.1.0.13");
  copy_text(run_.device_info.software_version, sizeof run_.device_info.software_version, "3.2.1");
  run(IDD_SUCCESS, success_dialog_proc, {1});
  EXPECT_EQ(state().title, "QOR@10.1.0.13 Upgrade Successful!");
  EXPECT_EQ(text(IDC_MAIN_TEXT), "Your QOR has been successfully\r\nupgraded to the version shown\r\nbelow.");
  EXPECT_EQ(text(success_ids::VERSION), "3.2.1");
  EXPECT_EQ(state().focus, IDOK);
}

struct CentreCase {
  int template_id;
  DialogProc proc;
};

class DialogCentre : public SequenceDialogs, public ::testing::WithParamInterface<CentreCase> {};

TEST_P(DialogCentre, OpensCentredOnTheScreen) {
  fake_->set_screen({1024, 768});
  run(GetParam().template_id, GetParam().proc, {2});
  const DialogTemplate* t = find_dialog_template(GetParam().template_id);
  PixelSize size = fake_->pixel_size(*t);
  ScreenRect r = state().rect;
  EXPECT_EQ(r.left, (1024 - size.width) / 2);
  EXPECT_EQ(r.top, (768 - size.height) / 2);
  EXPECT_EQ(r.right - r.left, size.width);
}

INSTANTIATE_TEST_SUITE_P(All, DialogCentre,
                         ::testing::Values(CentreCase{IDD_WARNING, warning_dialog_proc},
                                           CentreCase{IDD_CONFIRM, confirm_dialog_proc},
                                           CentreCase{IDD_SUCCESS, success_dialog_proc},
                                           CentreCase{IDD_ADDRESS, address_dialog_proc}));

}  // namespace
}  // namespace qor::test
