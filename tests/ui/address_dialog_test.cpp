#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/ui/dialog_fixture.h"
#include "ui/dialog_templates.h"
#include "ui/dialogs.h"

namespace qor::test {
namespace {

class AddressDialog : public DialogTest {
 protected:
  // The user types `text`, optionally picks a local address, and presses OK; after an
  // "Invalid IP Address" box the user cancels.
  std::intptr_t confirm(const std::string& text, int pick = -1, int template_id = IDD_ADDRESS) {
    fake_->on_message_box([this](const MessageBoxCall& box) { fake_->click(box.owner, IDCANCEL); });
    return dialog(template_id, address_dialog_proc, [=](FakeToolkit& fake, Window w) {
      fake.type(w, address_ids::ADDRESS, text);
      if (pick >= 0) fake.select(w, address_ids::LOCAL_ADDRESSES, pick);
      fake.click(w, IDOK);
    });
  }
  std::string tftp_filename() const {
    char name[128];
    run_.tftp_filename.get(name, sizeof name);
    return name;
  }
};

TEST_F(AddressDialog, OpensWithProductVersionAndLocalAddresses) {
  confirm("10.1.0.13");
  WindowSnapshot s = state();
  EXPECT_EQ(s.title, "QOR-4710 Firmware Upgrade");
  EXPECT_EQ(s.controls[IDC_MAIN_TEXT].text, "This program will upgrade your QOR\r\nfirmware to:");
  EXPECT_EQ(s.controls[address_ids::VERSION].text, "Version 3.2.1");
  EXPECT_EQ(s.controls[address_ids::LOCAL_ADDRESSES].items,
            (std::vector<std::string>{"192.168.1.20", "10.0.0.5"}));
  EXPECT_EQ(s.controls[address_ids::LOCAL_ADDRESSES].selection, 0);
  EXPECT_EQ(s.focus, address_ids::ADDRESS);
}

TEST_F(AddressDialog, ListsAllEightLocalAddresses) {
  for (int i = 0; i < MAX_LOCAL_ADDRESSES; ++i)
    run_.local_addresses[i] = 0x7F000001u + static_cast<unsigned>(i);
  EXPECT_EQ(confirm("10.1.0.13", 7), 1);
  std::vector<std::string> items = state().controls[address_ids::LOCAL_ADDRESSES].items;
  ASSERT_EQ(items.size(), 8u);
  EXPECT_EQ(items.front(), "127.0.0.1");
  EXPECT_EQ(items.back(), "127.0.0.8");
  EXPECT_EQ(run_.local_address, 0x7F000008u);
}

struct HelpCase {
  std::int32_t phone;
  int template_id;
  const char* text;
};

class AddressHelp : public AddressDialog, public ::testing::WithParamInterface<HelpCase> {};

TEST_P(AddressHelp, ExplainsHowToFindTheAddressOnThisKindOfDevice) {
  run_.phone_variant = GetParam().phone;
  confirm("10.1.0.13", -1, GetParam().template_id);
  EXPECT_EQ(state().controls[address_ids::HELP].text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, AddressHelp,
    ::testing::Values(
        HelpCase{
            1, IDD_ADDRESS_PHONE,
            "To proceed, please provide the IP address\r\nof your QOR. To find out the IP address of\r\n"
            "your QOR, press the I button on the phone,\r\nselect \"Network\" option, and check the\r\n"
            "value of \"Current IP\". For example, 10.1.0.13\r\n\r\nPlease enter IP address of your QOR:"},
        HelpCase{0, IDD_ADDRESS,
                 "To proceed, please provide the IP address\r\nof your QOR. To find out the IP address\r\n"
                 "of your QOR, using a telephone handset,\r\nenter * * * *, option 110#, and write down\r\n"
                 "the value. For example, 10.1.0.123\r\n\r\nPlease enter IP address of your QOR:"}));

TEST_F(AddressDialog, ValidAddressSetsEverythingTheUpgradeNeeds) {
  EXPECT_EQ(confirm("10.1.0.13"), 1);
  EXPECT_EQ(run_.device_address, 0x0A01000Du);
  EXPECT_STREQ(run_.device_address_text, "10.1.0.13");
  EXPECT_EQ(run_.local_address, 0xC0A80114u);
  EXPECT_TRUE(fake_->message_boxes().empty());
}

TEST_F(AddressDialog, SecondListItemChoosesTheSecondLocalAddress) {
  EXPECT_EQ(confirm("10*1*0*13", 1), 1);
  EXPECT_EQ(run_.device_address, 0x0A01000Du);
  EXPECT_EQ(run_.local_address, 0x0A000005u);
}

TEST_F(AddressDialog, WithoutLocalAddressesAValidAddressIsRefusedWithTheReason) {
  run_.local_addresses[0] = 0;
  run_.local_addresses[1] = 0;
  run_.local_address = 0x7F000001;
  EXPECT_EQ(confirm("10.1.0.13"), 0);  // ended by the Cancel sent after the box
  EXPECT_TRUE(state().controls[address_ids::LOCAL_ADDRESSES].items.empty());
  std::vector<MessageBoxCall> boxes = fake_->message_boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].text.find("This PC has no address on a network"), std::string::npos);
  EXPECT_EQ(boxes[0].owner, window_);
  EXPECT_EQ(run_.local_address, 0x7F000001u);
  EXPECT_EQ(run_.device_address, 0u);
}

class FileName : public AddressDialog, public ::testing::WithParamInterface<int> {};

TEST_P(FileName, CarriesTheStageDigitAndAShortHexNumber) {
  run_.upgrade_stage.store(GetParam());
  // Several runs, so that the hex part is seen at different lengths.
  for (int run = 0; run < 20; ++run) {
    ASSERT_EQ(confirm("10.1.0.13"), 1);
    std::string name = tftp_filename();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(name, m, std::regex("/qor([0-9a-f]{1,4})\\.bi([01])"))) << name;
    EXPECT_EQ(m[2].str(), std::to_string(GetParam()));
    EXPECT_TRUE(m[1].str() == "0" || m[1].str()[0] != '0') << "no leading zeros: " << name;
    EXPECT_LE(std::stoul(m[1].str(), nullptr, 16), 0x7FFFu);
  }
}

INSTANTIATE_TEST_SUITE_P(Stages, FileName, ::testing::Values(0, 1));

// Runs side by side in one process (a fleet) must never announce the same file, however many there are;
// a run's next stage replaces the number it held.
TEST(FileNumber, NoTwoLiveNamesShareOne) {
  std::vector<std::unique_ptr<TftpFilename>> names(3000);
  for (int round = 0; round < 2; ++round) {
    std::set<unsigned> live;
    for (auto& name : names) {
      if (!name) name = std::make_unique<TftpFilename>();
      live.insert(name->draw_number());
    }
    EXPECT_EQ(live.size(), names.size());
    EXPECT_LE(*live.rbegin(), 0x7FFFu);
  }
}

class InvalidAddress : public AddressDialog, public ::testing::WithParamInterface<const char*> {};

TEST_P(InvalidAddress, ShowsTheBoxOwnedByTheDialogAndStaysOpen) {
  run_.local_address = 0x01010101;
  run_.tftp_filename.set("/qor1.bi1");
  EXPECT_EQ(confirm(GetParam()), 0);  // ended by the Cancel sent after the box
  std::vector<MessageBoxCall> boxes = fake_->message_boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Invalid IP Address");
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].owner, window_);
  EXPECT_EQ(boxes[0].flags, MB_OK);
  EXPECT_EQ(state().focus, address_ids::ADDRESS);
  EXPECT_EQ(run_.device_address, 0u);
  // Nothing of a rejected address reaches the rest of the upgrade.
  EXPECT_EQ(tftp_filename(), "/qor1.bi1");
  EXPECT_EQ(run_.local_address, 0x01010101u);
}

INSTANTIATE_TEST_SUITE_P(Texts, InvalidAddress,
                         ::testing::Values("", "1.2.3", "1.2.3..", "1.2.3.4.5", "256.1.1.1", " 1.2.3.4",
                                           "0.0.0.0", "10.1..13"));

TEST_F(AddressDialog, CorrectedAddressIsAcceptedAfterTheBox) {
  fake_->on_show(IDD_ADDRESS, [](FakeToolkit& fake, Window w) {
    fake.type(w, address_ids::ADDRESS, "10.1.0.256");
    fake.click(w, IDOK);
  });
  fake_->on_message_box([this](const MessageBoxCall& box) {
    fake_->type(box.owner, address_ids::ADDRESS, "10.1.0.25");
    fake_->click(box.owner, IDOK);
  });
  EXPECT_EQ(dialog(IDD_ADDRESS, address_dialog_proc), 1);
  EXPECT_EQ(fake_->message_boxes().size(), 1u);
  EXPECT_EQ(run_.device_address, 0x0A010019u);
  EXPECT_STREQ(run_.device_address_text, "10.1.0.25");
}

TEST_F(AddressDialog, OverlongTextIsCutToTheBufferAndRejected) {
  std::string text(40, '1');
  EXPECT_EQ(confirm(text), 0);
  EXPECT_EQ(std::string(run_.device_address_text), std::string(31, '1'));
  EXPECT_EQ(fake_->message_boxes().size(), 1u);
}

TEST_F(AddressDialog, CancelEndsWithZeroAndLeavesTheAddressUnset) {
  fake_->on_show(IDD_ADDRESS, [](FakeToolkit& fake, Window w) {
    fake.type(w, address_ids::ADDRESS, "10.1.0.13");
    fake.click(w, IDCANCEL);
  });
  EXPECT_EQ(dialog(IDD_ADDRESS, address_dialog_proc), 0);
  EXPECT_EQ(run_.device_address, 0u);
  EXPECT_TRUE(fake_->message_boxes().empty());
}

}  // namespace
}  // namespace qor::test
