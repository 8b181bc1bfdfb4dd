#include <gtest/gtest.h>

#include <cstdint>

#include "ui/dialogs.h"

namespace qor {
namespace {

struct AddressCase {
  const char* text;
  int code;
  std::uint32_t address;  // what `out` holds afterwards
};

class ParseIpAddress : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ParseIpAddress, GivesCodeAndAddress) {
  const AddressCase& c = GetParam();
  std::uint32_t out = 0xDEADBEEF;  // must be cleared whatever the outcome
  EXPECT_EQ(parse_ip_address(c.text, &out), c.code) << '"' << c.text << '"';
  EXPECT_EQ(out, c.address) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, ParseIpAddress,
    ::testing::Values(AddressCase{"10.1.0.13", 0, 0x0A01000D}, AddressCase{"10*1*0*13", 0, 0x0A01000D},
                      AddressCase{".1..2.3.4", 0, 0x01020304}, AddressCase{"1.2.3.4.", 0, 0x01020304},
                      AddressCase{"*1*2*3*4*", 0, 0x01020304}, AddressCase{"001.002.003.004", 0, 0x01020304},
                      AddressCase{"255.255.255.255", 0, 0xFFFFFFFF}, AddressCase{"1.2.3.4", 0, 0x01020304},
                      // Valid text, but the address 0: the dialog rejects it by the stored value.
                      AddressCase{"0.0.0.0", 0, 0}));

INSTANTIATE_TEST_SUITE_P(Rejected, ParseIpAddress,
                         ::testing::Values(AddressCase{"", 4, 0}, AddressCase{"1.2.3", 4, 0},
                                           AddressCase{"0001.0002.003.04", 4, 0},
                                           AddressCase{"1.2.3..", 3, 0}, AddressCase{".......", 3, 0},
                                           AddressCase{"1..2...3", 3, 0}, AddressCase{"1.2.3.4.5", 2, 0},
                                           // A fifth part is refused before its value is looked at.
                                           AddressCase{"1.2.3.4.256", 2, 0}, AddressCase{"256.1.1.1", 1, 0},
                                           AddressCase{"1.2.3.256", 1, 0},
                                           // Far too large for any integer type the parts could be read into.
                                           AddressCase{"999999999999999", 1, 0},
                                           AddressCase{"4294967296.1.1", 1, 0}, AddressCase{"1.2.3.4a", 5, 0},
                                           AddressCase{" 1.2.3.4", 5, 0}, AddressCase{"-1.2.3.4", 5, 0},
                                           AddressCase{"1.2.3.4\n", 5, 0},
                                           // Length is checked before characters.
                                           AddressCase{"1.2.3.4 with text", 4, 0}));

TEST(ParseIpAddressNulls, NullTextIsTooShortAndNullOutIsTolerated) {
  std::uint32_t out = 7;
  EXPECT_EQ(parse_ip_address(nullptr, &out), 4);
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(parse_ip_address("10.1.0.13", nullptr), 0);
}

}  // namespace
}  // namespace qor
