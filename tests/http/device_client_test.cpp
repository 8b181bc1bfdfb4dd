#include "http/device_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "http/request_runner.h"
#include "tests/http/http_fixture.h"

namespace qor::test {
namespace {

constexpr const char* BARE_REQUEST = "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\n\r\n";

using DeviceClient = HttpTest;

TEST_F(DeviceClient, RequestWithoutCredentialsIsLineHostAndBlankLineAndThePageFillsAllFiveFields) {
  HttpTestServer server;
  HttpReply reply = http_page(status_page());
  server.push(reply);
  RequestResult result = fetch(server.port());
  EXPECT_EQ(result.failure, Outcome::none);
  EXPECT_EQ(result.received, size_of(reply));
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0], BARE_REQUEST);
  HttpRequestRecord record = server.records()[0];
  EXPECT_EQ(record.peer_address, LOOPBACK_ADDRESS);
  EXPECT_GE(record.peer_port, HTTP_BIND_PORT_BASE);
  EXPECT_LE(record.peer_port, HTTP_BIND_PORT_BASE + 100);
  EXPECT_EQ(digest().nonce_count, 0u);
  EXPECT_STREQ(info.product_name, "QOR-2102");
  EXPECT_STREQ(info.mac_address, "00:0E:08:12:34:56");
  EXPECT_STREQ(info.software_version, "3.2.1");
  EXPECT_STREQ(info.hardware_version, "2.0");
  EXPECT_STREQ(info.serial_number, "FM500123");
  EXPECT_EQ(std::string(page.data()), reply.bytes);
}

// Pages read whole: in small pieces, from HTTP/1.0, and 401 replies without a usable challenge.
TEST_F(DeviceClient, TrickledHttp10AndUnchallengingRepliesAreReadWhole) {
  HttpReply trickled = http_page(status_page("TRICKLED"));
  trickled.chunk_size = 17;
  trickled.chunk_delay_ms = 1;
  HttpReply old;
  old.bytes = "HTTP/1.0 200 OK\r\n\r\n" + status_page("OLD");
  std::vector<std::pair<HttpReply, const char*>> replies{{trickled, "TRICKLED"}, {old, "OLD"}};
  for (const char* headers :
       {"", "WWW-Authenticate: Digest realm=\"QOR\"\r\n", "WWW-Authenticate: Basic nonce=\"x\"\r\n"})
    replies.emplace_back(http_page(status_page("ERRPAGE"), "401 Unauthorized", headers), "ERRPAGE");
  for (const auto& [reply, product] : replies) {
    info = DeviceInfo{};
    HttpTestServer server;
    server.push(reply);
    EXPECT_EQ(fetch(server.port()).received, size_of(reply)) << reply.bytes.substr(0, 80);
    EXPECT_STREQ(info.product_name, product);
    EXPECT_STREQ(info.serial_number, "FM500123");
  }
}

TEST_F(DeviceClient, FieldMissingFromALaterPageKeepsItsValue) {
  HttpTestServer server;
  server.push(http_page(status_page()));
  server.push(http_page("<td>Software Version:</td><td>4.0</td>"));
  fetch(server.port());
  fetch(server.port());
  EXPECT_STREQ(info.software_version, "4.0");
  EXPECT_STREQ(info.serial_number, "FM500123");
}

TEST_F(DeviceClient, ChallengeAsksForAuthenticationAndLeavesTheFieldsAlone) {
  HttpTestServer server;
  server.push(http_page(status_page("FIRST")));
  server.push(http_page(status_page("SECOND"), "401 Unauthorized",
                        "WWW-Authenticate: Digest realm=\"QOR\", nonce=\"abc\", qop=\"auth\"\r\n"));
  fetch(server.port());
  RequestResult result = fetch(server.port());
  EXPECT_EQ(result.received, -1);
  EXPECT_EQ(result.failure, Outcome::none);
  EXPECT_STREQ(info.product_name, "FIRST");
  EXPECT_STREQ(digest().realm, "QOR");
  EXPECT_STREQ(digest().nonce, "abc");
  EXPECT_STREQ(digest().qop, "auth");
}

// A silent close, a reset or a refused connection: nothing received, the fields kept, the nonce counted.
TEST_F(DeviceClient, NothingReceivedGivesZeroButStillCountsTheNonce) {
  HttpReply silent;
  silent.close_silently = true;
  HttpReply reset;
  reset.reset = true;
  set_credentials("admin", "secret");
  std::strcpy(digest().nonce, "n");
  std::strcpy(info.product_name, "KEPT");
  for (std::uint32_t attempt = 1; attempt <= 3; ++attempt) {
    HttpTestServer server;
    server.push(attempt == 1 ? silent : reset);
    std::uint16_t port = server.port();
    Socket refuser = attempt == 3 ? refusing_port(port) : Socket();
    RequestResult result = fetch(port);
    EXPECT_EQ(result.received, 0) << attempt;
    EXPECT_EQ(result.failure, Outcome::none) << attempt;
    EXPECT_STREQ(info.product_name, "KEPT");
    EXPECT_EQ(digest().nonce_count, attempt);
  }
}

TEST_F(DeviceClient, SmallCapacityNeverWritesPastItsBuffer) {
  HttpTestServer server;
  server.push(http_page(status_page()));
  char buffer[64 + 1 + 8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(fetch_device_page(job_for(server.port()), buffer, 64, *run.digest, info).received, 64);
  EXPECT_EQ(buffer[64], '\0');
  for (int i = 65; i < 73; ++i)
    EXPECT_EQ(buffer[i], '#');
}

TEST_F(DeviceClient, CredentialsCountUpUnderOneNonceAndNameThePath) {
  HttpTestServer server;
  server.set_default(http_page(status_page()));
  std::strcpy(digest().realm, "QOR");
  std::strcpy(digest().nonce, "n1");
  std::strcpy(digest().qop, "auth");
  std::strcpy(digest().cnonce, "1a2b");
  set_credentials("admin", "secret");
  const char* paths[] = {"/admin/advanced", "/admin/upgrade?tftp://127.0.0.1:69/qor1a2b.bi1",
                         "/admin/advanced"};
  for (const char* path : paths)
    fetch(server.port(), path);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    std::string nc = "nc=00000000" + std::to_string(i + 1) + ",";
    EXPECT_NE(requests[i].find(nc), std::string::npos) << requests[i];
    EXPECT_NE(requests[i].find(std::string("uri=\"") + paths[i] + "\""), std::string::npos);
    EXPECT_EQ(requests[i].rfind(std::string("GET ") + paths[i] +
                                    " HTTP/1.1\r\nHost: 192.168.2.110\r\n"
                                    "Authorization: Digest username=\"admin\",realm=\"QOR\",nonce=\"n1\",",
                                0),
              0u);
    EXPECT_EQ(requests[i].substr(requests[i].size() - 5), "\"\r\n\r\n");
  }
  EXPECT_EQ(digest().nonce_count, 3u);

  digest().password[0] = '\0';
  fetch(server.port());
  EXPECT_EQ(server.requests().back(), BARE_REQUEST);
  EXPECT_EQ(digest().nonce_count, 3u);
}

// The device checks the response itself: only the right password opens the page.
TEST_F(DeviceClient, ChallengeThenCredentialsEarnThePage) {
  HttpTestServer server;
  server.set_handler([](const HttpRequestRecord& request, std::size_t) {
    return authorized(request.bytes, "abc", "right") ? http_page(status_page("OPENED"))
                                                     : challenge_reply("abc");
  });
  EXPECT_EQ(fetch(server.port()).received, -1);
  set_credentials("admin", "wrong");
  EXPECT_EQ(fetch(server.port()).received, -1);
  EXPECT_EQ(digest().nonce_count, 1u);  // same nonce: not reset
  set_credentials("admin", "right");
  digest().nonce_count = 0;
  EXPECT_GT(fetch(server.port()).received, 0);
  EXPECT_STREQ(info.product_name, "OPENED");
  EXPECT_NE(server.requests().back().find(",nc=000000001,"), std::string::npos);
}

TEST_F(DeviceClient, BindMovesToTheNextFreePort) {
  const std::uint16_t base = 38211;
  Socket taken(open_tcp_socket());
  if (!bind_socket(taken.get(), LOOPBACK_ADDRESS, base)) GTEST_SKIP() << "port in use";
  HttpTestServer server;
  server.push(http_page(status_page()));
  RequestJob job = job_for(server.port());
  job.bind_port_base = base;
  fetch_device_page(job, page.data(), PAGE_CAPACITY, *run.digest, info);
  ASSERT_EQ(server.records().size(), 1u);
  EXPECT_GT(server.records()[0].peer_port, base);
  EXPECT_LE(server.records()[0].peer_port, base + 100);
}

// The failure comes back as a value through every layer; none of them tells the user.
TEST_F(DeviceClient, AllHundredAndOnePortsTakenIsABindFailureWithoutABox) {
  const std::uint16_t base = 38411;
  std::vector<Socket> taken;
  for (int i = 0; i < BIND_PORT_TRIES; ++i) {
    taken.emplace_back(open_tcp_socket());
    bind_socket(taken.back().get(), LOOPBACK_ADDRESS, static_cast<std::uint16_t>(base + i));
  }
  HttpTestServer server;  // the port after the range stays free: it must not be tried
  ScopedFakeToolkit fake;
  Outcome failure = Outcome::none;
  EXPECT_EQ(open_device_connection(LOOPBACK_ADDRESS, base, LOOPBACK_ADDRESS, server.port(), failure),
            INVALID_SOCKET_HANDLE);
  EXPECT_EQ(failure, Outcome::http_bind_failed);
  RequestJob job = job_for(server.port());
  job.bind_port_base = base;
  for (RequestResult result : {fetch_device_page(job, page.data(), PAGE_CAPACITY, *run.digest, info),
                               run_device_request(run, job, info)}) {
    EXPECT_EQ(result.failure, Outcome::http_bind_failed);
    EXPECT_EQ(result.received, 0);
  }
  EXPECT_EQ(fake->events(), (std::vector<std::string>{"create 105", "show 105", "destroy 105"}));
  EXPECT_EQ(server.connection_count(), 0u);
}

struct StatusCase {
  const char* reply;
  int code;
};

class ReplyStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(ReplyStatus, Classification) {
  DigestState state{};
  EXPECT_EQ(classify_reply_status(GetParam().reply, state), GetParam().code) << GetParam().reply;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyStatus,
    ::testing::Values(
        StatusCase{"HTTP/1.1 200 OK\r\n", REPLY_OK}, StatusCase{"HTTP/1.1 2001", REPLY_OK},
        StatusCase{"HTTP/1.1X200", REPLY_OK}, StatusCase{"HTTP/1.1 \t \t200", REPLY_OK},
        StatusCase{"HTTP/1.1", REPLY_NO_STATUS}, StatusCase{"HTTP/1.1 ", REPLY_NO_STATUS},
        StatusCase{"HTTP/1.1  \t", REPLY_NO_STATUS}, StatusCase{"http/1.1 200", REPLY_NOT_HTTP_1_1},
        StatusCase{"HTTP/1.0 200 OK", REPLY_NOT_HTTP_1_1}, StatusCase{"", REPLY_NOT_HTTP_1_1},
        StatusCase{"GET /admin/advanced HTTP/1.1", REPLY_NOT_HTTP_1_1},
        StatusCase{"HTTP/1.1 404 Not Found", REPLY_OTHER},
        StatusCase{"HTTP/1.1 401 Unauthorized\r\n\r\n", REPLY_OTHER},
        StatusCase{"HTTP/1.1 401\r\nWWW-Authenticate: Digest nonce=\"n\"", REPLY_OTHER},
        StatusCase{"HTTP/1.1 401\r\nwww-authenticate: Digest realm=\"r\" nonce=\"n\"", REPLY_OTHER},
        StatusCase{"HTTP/1.1 401\r\n\r\n<p>WWW-Authenticate: realm=\"r\" nonce=\"n\"</p>", REPLY_AUTH_NEEDED},
        StatusCase{"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n",
                   REPLY_AUTH_NEEDED}));

struct FieldCase {
  const char* reply;
  const char* expected;  // null: the field keeps "KEPT"
};

class PageField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(PageField, Extraction) {
  char field[128] = "KEPT";
  char* result = extract_page_field(GetParam().reply, "Product Name:", field, DEVICE_FIELD_MAX);
  if (GetParam().expected) {
    EXPECT_EQ(result, field);
    EXPECT_STREQ(field, GetParam().expected);
  } else {
    EXPECT_EQ(result, nullptr);
    EXPECT_STREQ(field, "KEPT");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tags, PageField,
    ::testing::Values(FieldCase{"Product Name:</td><td>ABC</td>", "ABC"},
                      FieldCase{"Product Name: <b>x</b>", "x"}, FieldCase{"Product Name: x<br>y", "y"},
                      FieldCase{"<b>Product Name:</b></td><td> A &amp; B \r\n</td>", " A &amp; B \r\n"},
                      FieldCase{"Product Name:</td><td>to the end", "to the end"},
                      FieldCase{"Product Name:</td><td></td>", ""},
                      FieldCase{"Product Name:</b>\r\n<td>x", "\r\n"},
                      FieldCase{"Product Name: no tag", nullptr}, FieldCase{"Product Name:</td><", nullptr},
                      FieldCase{"product name:</td><td>x", nullptr},
                      FieldCase{"Serial Number:</td><td>x", nullptr}));

TEST(PageFieldLength, LongValueIsCutTo127) {
  std::string value(200, 'v');
  std::string reply = "Product Name:</td><td>" + value + "</td>";
  char field[128];
  std::memset(field, '#', sizeof field);
  extract_page_field(reply.c_str(), "Product Name:", field, DEVICE_FIELD_MAX);
  EXPECT_EQ(std::string(field), value.substr(0, 127));
}

}  // namespace
}  // namespace qor::test
