// A device (or anything else answering on its address) that misbehaves on purpose: replies that run far
// past the page buffer, challenge values thousands of characters long, and credentials longer than the
// password dialog keeps. (Replies that never end: CancelWhileWaiting in request_runner_test.cpp.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "http/request_runner.h"
#include "tests/http/http_fixture.h"

namespace qor::test {
namespace {

constexpr std::size_t MEBIBYTE = 1 << 20;

// A mebibyte of reply: reception stops when the page buffer is full, whether or not the device then
// closes; the buffer stays terminated and only what fits is read.
class HugeReply : public HttpTest, public ::testing::WithParamInterface<bool> {};

TEST_P(HugeReply, StopsAtTheBufferAndReadsOnlyWhatFits) {
  const std::string head = "HTTP/1.1 200 OK\r\n\r\n<td>Product Name:</td><td>QOR-2102</td>";
  const std::string straddling = "<td>Software Version:</td><td>";
  const std::size_t value_inside = 10;  // characters of the version value that still fit
  std::string bytes = head +
                      std::string(PAGE_CAPACITY - value_inside - head.size() - straddling.size(), 'f') +
                      straddling + std::string(50, 'v') + "</td><td>Serial Number:</td><td>S1</td>";
  bytes.resize(MEBIBYTE, 'z');
  HttpReply reply;
  reply.bytes = bytes;
  reply.never_close = GetParam();
  HttpTestServer server;
  server.push(reply);
  page[PAGE_CAPACITY] = 'Z';

  EXPECT_EQ(fetch(server.port()).received, PAGE_CAPACITY);
  EXPECT_EQ(page[PAGE_CAPACITY], '\0');
  EXPECT_EQ(std::strlen(page.data()), static_cast<std::size_t>(PAGE_CAPACITY));
  EXPECT_STREQ(info.product_name, "QOR-2102");
  EXPECT_EQ(std::string(info.software_version), std::string(value_inside, 'v'));
  EXPECT_STREQ(info.serial_number, "");
}

INSTANTIATE_TEST_SUITE_P(Ending, HugeReply, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "HeldOpen" : "Closed"; });

// The value of `name` in an Authorization line: up to the next double quote, or (unquoted) the next comma.
std::string directive(const std::string& line, const std::string& name) {
  std::size_t at = line.find(name);
  if (at == std::string::npos) return "";
  at += name.size();
  const bool quoted = line[at] == '"';
  if (quoted) ++at;
  return line.substr(at, line.find(quoted ? '"' : ',', at) - at);
}

// The qop is written unquoted and whole, commas and all, in front of the nonce count.
std::string qop_of(const std::string& line) {
  std::size_t at = line.find(",qop=");
  if (at == std::string::npos) return "";
  at += 5;
  return line.substr(at, line.find(",nc=", at) - at);
}

// The device's side of Digest: does the line's response follow from the line's own values and the
// password the program stored?
bool response_checks_out(const std::string& request) {
  const std::string line = request.substr(request.find("Authorization: Digest "));
  char expected[MD5_HEX_SIZE];
  compute_digest_response(directive(line, ",nonce=").c_str(), directive(line, "cnonce=").c_str(),
                          directive(line, "username=").c_str(), directive(line, "realm=").c_str(),
                          std::string(126, 'p').c_str(), directive(line, "algorithm=").c_str(),
                          directive(line, ",nc=").c_str(), "GET", qop_of(line).c_str(),
                          directive(line, "uri=").c_str(), "", expected);
  return directive(line, "response=") == expected;
}

struct LongChallenge {
  const char* name;
  std::string parameters;  // what follows "WWW-Authenticate: Digest "
  bool usable;
};

class LongChallengeValues : public RunnerTest, public ::testing::WithParamInterface<LongChallenge> {};

// An unusable challenge leaves an ordinary page; a usable one, with values cut to their fields, earns
// a complete Authorization line carrying the longest credentials the password dialog keeps.
TEST_P(LongChallengeValues, NeverOverrunAndStillAuthenticate) {
  const LongChallenge& c = GetParam();
  HttpTestServer server;
  const HttpReply challenge =
      http_page(status_page(), "401 Unauthorized", "WWW-Authenticate: Digest " + c.parameters + "\r\n");
  server.set_handler([&](const HttpRequestRecord& request, std::size_t index) {
    if (index == 0) return challenge;
    return response_checks_out(request.bytes) ? http_page(status_page())
                                              : http_page("refused", "403 Forbidden");
  });
  fake_->on_show(IDD_PASSWORD, [](FakeToolkit& fake, Window w) {
    fake.type(w, password_ids::USERNAME, std::string(130, 'u'));
    fake.type(w, password_ids::PASSWORD, std::string(130, 'p'));
    fake.click(w, IDOK);
  });

  RequestResult result = run_device_request(run, job_for(server.port()), info);
  EXPECT_EQ(result.failure, Outcome::none);
  EXPECT_GT(result.received, 0);
  EXPECT_STREQ(info.product_name, "QOR-2102");
  EXPECT_EQ(count_shown(IDD_PASSWORD), c.usable ? 1 : 0);
  ASSERT_EQ(server.request_count(), c.usable ? 2u : 1u);
  if (!c.usable) {
    EXPECT_STREQ(digest().nonce, "");
    return;
  }
  EXPECT_EQ(std::string(digest().username), std::string(126, 'u'));
  EXPECT_EQ(std::string(digest().password), std::string(126, 'p'));
  const std::string request = server.requests()[1];
  EXPECT_EQ(request.substr(request.size() - 4), "\r\n\r\n");
  const std::string line = request.substr(request.find("Authorization: Digest "));
  EXPECT_EQ(directive(line, "username="), std::string(126, 'u'));
  EXPECT_EQ(directive(line, "realm="), std::string(127, 'r'));
  EXPECT_EQ(directive(line, ",nonce="), std::string(127, 'n'));
  EXPECT_EQ(directive(line, "opaque="), std::string(127, 'o'));
  EXPECT_EQ(directive(line, "algorithm="), "MD5xxxxxxxxxxxx");
  EXPECT_EQ(qop_of(line), "auth,auth,auth,");
  EXPECT_TRUE(response_checks_out(request));
}

std::string repeated(const std::string& text, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i)
    out += text;
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Challenges, LongChallengeValues,
    ::testing::Values(
        LongChallenge{"RealmOfThousands", "realm=\"" + std::string(5000, 'r') + "\", nonce=\"n1\"", false},
        LongChallenge{"NonceOfThousands", "realm=\"QOR\", nonce=\"" + std::string(5000, 'n') + "\"", false},
        LongChallenge{"NonceRunningToTheEnd", "realm=\"QOR\", nonce=\"" + std::string(100, 'n'), false},
        LongChallenge{"OptionalValuesOfThousands",
                      "realm=\"" + std::string(127, 'r') + "\", nonce=\"" + std::string(127, 'n') +
                          "\", opaque=\"" + std::string(5000, 'o') + "\", qop=\"auth" +
                          repeated(",auth", 1000) + "\", algorithm=\"MD5" + std::string(5000, 'x') + "\"",
                      true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qor::test
