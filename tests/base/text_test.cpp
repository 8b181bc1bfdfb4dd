#include <gtest/gtest.h>

#include <string>

#include "base/text.h"

namespace qor {
namespace {

// What a device sends must reach a terminal as text only: no byte of it may start a control sequence.
TEST(VisibleText, ShowsControlsAsEscapesAndKeepsText) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"3.2.1", "3.2.1"},
      {"", ""},
      {"\x1b[2J\x1b]0;owned\x07", "\\x1b[2J\\x1b]0;owned\\x07"},               // clear screen, window title
      {"A\r\nSoftware Version: 9.9.9", "A\\x0d\\x0aSoftware Version: 9.9.9"},  // a fake line
      {std::string("a\0b", 3), "a\\x00b"},
      {"\x7f\t", "\\x7f\\x09"},
      {"\x9b"
       "31m",
       "\\x9b31m"},  // C1 CSI as a raw byte
      {"\xc2\x9b"
       "31m",
       "\\u009b31m"},  // C1 CSI as UTF-8
      {"Caf\xc3\xa9 \xce\xa9 \xe2\x82\xac \xf0\x9f\x93\x9e",
       "Caf\xc3\xa9 \xce\xa9 \xe2\x82\xac \xf0\x9f\x93\x9e"},
      {"\xc3", "\\xc3"},                             // cut sequence
      {"\xc0\xaf", "\\xc0\\xaf"},                    // overlong
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // beyond U+10FFFF
  };
  for (const auto& c : cases)
    EXPECT_EQ(visible_text(c.in), c.out) << c.out;
}

}  // namespace
}  // namespace qor
