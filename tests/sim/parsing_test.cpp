// The simulator's parsing of what the program sends: the upgrade URL, the request head, and the image
// it fetched.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/http_request.h"
#include "sim/image_check.h"
#include "sim/sim_options.h"
#include "sim/upgrade_url.h"

namespace qor::sim {
namespace {

TEST(UpgradeUrl, TakesServerPortAndNameAsGiven) {
  struct Case {
    const char* target;
    std::uint32_t address;
    std::uint16_t port;
    const char* name;
  } cases[] = {
      {"/admin/upgrade?tftp://127.0.0.1:69/qor1a2b.bi1", 0x7f000001, 69, "/qor1a2b.bi1"},
      {"/admin/upgrade?tftp://192.168.0.10:168/qor7fff.bi0", 0xc0a8000a, 168, "/qor7fff.bi0"},
      {"/admin/upgrade?tftp://127.0.0.9/x", 0x7f000009, 69, "/x"},
      {"/admin/upgrade?tftp://127.0.0.1:65535//a/b", 0x7f000001, 65535, "//a/b"},
  };
  for (const Case& c : cases) {
    UpgradeTarget t;
    std::string why;
    ASSERT_EQ(parse_upgrade_target(c.target, t, why), URL_OK) << c.target;
    EXPECT_EQ(t.address, c.address);
    EXPECT_EQ(t.port, c.port);
    EXPECT_EQ(t.file_name, c.name);
  }
}

TEST(UpgradeUrl, RefusesWhatItCannotFetch) {
  const char* malformed[] = {
      "/admin/upgrade?",
      "/admin/upgrade?http://127.0.0.1:69/a",
      "/admin/upgrade?tftp://127.0.0.256:69/a",
      "/admin/upgrade?tftp://127.0.0:69/a",
      "/admin/upgrade?tftp://127.0.0.1x:69/a",
      "/admin/upgrade?tftp://127.0.0.1:0/a",
      "/admin/upgrade?tftp://127.0.0.1:65536/a",
      "/admin/upgrade?tftp://127.0.0.1:/a",
      "/admin/upgrade?tftp://127.0.0.1:69",
      "/admin/upgrade?tftp://127.0.0.1:69/",
      "/admin/upgrade?tftp://127.0.0.1:69a",
      "/admin/upgrade?tftp://0127.0.0.1:69/a",
  };
  for (const char* target : malformed) {
    UpgradeTarget t;
    std::string why;
    EXPECT_EQ(parse_upgrade_target(target, t, why), URL_MALFORMED) << target;
    EXPECT_FALSE(why.empty());
  }
  std::string long_name = "/admin/upgrade?tftp://127.0.0.1:69/" + std::string(MAX_FILE_NAME, 'a');
  UpgradeTarget t;
  std::string why;
  EXPECT_EQ(parse_upgrade_target(long_name, t, why), URL_MALFORMED);
  EXPECT_EQ(parse_upgrade_target("/admin/advanced", t, why), URL_NOT_UPGRADE);
  EXPECT_EQ(parse_upgrade_target("/admin/upgrad?tftp://127.0.0.1:69/a", t, why), URL_NOT_UPGRADE);
}

TEST(UpgradeUrl, OnlyLoopbackCounts) {
  std::uint32_t a;
  ASSERT_TRUE(parse_ipv4("127.255.255.254", a));
  EXPECT_TRUE(is_loopback(a));
  ASSERT_TRUE(parse_ipv4("128.0.0.1", a));
  EXPECT_FALSE(is_loopback(a));
  ASSERT_TRUE(parse_ipv4("10.0.0.127", a));
  EXPECT_FALSE(is_loopback(a));
  EXPECT_EQ(ipv4_text(0x7f000102), "127.0.1.2");
}

TEST(RequestHead, ReadsTheProgramsRequest) {
  std::string raw =
      "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\nAuthorization: Digest "
      "username=\"admin\"\r\n\r\n";
  for (std::size_t cut = 0; cut < raw.size(); ++cut) {
    HttpRequest r;
    EXPECT_EQ(parse_request_head(raw.substr(0, cut), r), HEAD_INCOMPLETE) << cut;
  }
  HttpRequest r;
  ASSERT_EQ(parse_request_head(raw, r), HEAD_OK);
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/admin/advanced");
  EXPECT_EQ(r.host, "192.168.2.110");
  EXPECT_TRUE(r.has_authorization);
  EXPECT_EQ(r.authorization, "Digest username=\"admin\"");
}

TEST(RequestHead, RefusesGarbage) {
  for (const char* raw : {"\r\n\r\n", "GET\r\n\r\n", "GET /a\r\n\r\n", "GET  /a HTTP/1.1\r\n\r\n",
                          "GET /a b HTTP/1.1\r\n\r\n", "GET /a FTP/1.0\r\n\r\n"}) {
    HttpRequest r;
    EXPECT_EQ(parse_request_head(raw, r), HEAD_MALFORMED) << raw;
  }
  HttpRequest r;
  EXPECT_EQ(parse_request_head(std::string(MAX_REQUEST_HEAD + 10, 'x'), r), HEAD_MALFORMED);
}

std::vector<std::uint8_t> image_of(const char* product, const char* version, std::size_t size) {
  std::vector<std::uint8_t> image(size, 0xA5);
  std::fill(image.begin(), image.begin() + std::min<std::size_t>(size, HEADER_BYTES), 0);
  std::memcpy(image.data(), product, std::strlen(product));
  if (size > VERSION_AT) std::memcpy(image.data() + VERSION_AT, version, std::strlen(version));
  return image;
}

TEST(ImageCheck, AcceptsOnlyWholeImagesForThisProduct) {
  auto good = image_of("QoR4710fFiRmWaRe", "3.2.1", 1024);
  ImageVerdict v = check_image(good, "qor4710", 1024);
  EXPECT_TRUE(v.valid) << v.reason;
  EXPECT_EQ(v.version, "3.2.1");
  EXPECT_TRUE(check_image(image_of("VORPEX", "1.0", 200), "vorpex", 200).valid);
  EXPECT_TRUE(check_image(image_of("anything", "1.0", 200), "", 200).valid);

  EXPECT_FALSE(check_image(good, "qor4710", 1023).valid);
  EXPECT_FALSE(check_image(good, "qor4710", -1).valid);
  EXPECT_FALSE(check_image(good, "qor9900", 1024).valid);
  EXPECT_FALSE(check_image(image_of("qor47", "1.0", 200), "qor4710", 200).valid);
  EXPECT_FALSE(check_image(image_of("qor4710", "", 127), "qor4710", 127).valid);

  auto unterminated = good;
  std::memset(unterminated.data() + VERSION_AT, '9', HEADER_BYTES - VERSION_AT);
  ImageVerdict u = check_image(unterminated, "qor4710", 1024);
  EXPECT_FALSE(u.valid);
  EXPECT_NE(u.reason.find("version"), std::string::npos);
}

SimConfig parse(std::vector<const char*> args, OptionsResult expected = OPTIONS_RUN) {
  args.insert(args.begin(), "qor-device-sim");
  SimConfig config;
  std::string error;
  EXPECT_EQ(parse_sim_options(static_cast<int>(args.size()), args.data(), config, error), expected) << error;
  return config;
}

TEST(SimOptions, ReadsValuesAndRefusesTheUnsafe) {
  SimConfig c = parse({"--address", "127.0.0.9", "--http-port=8080", "--password", "pw", "--qop", "none",
                       "--algorithm", "absent", "--once=2", "--rrq-options", "", "--ack-from-second-port"});
  EXPECT_EQ(c.address, 0x7f000009u);
  EXPECT_EQ(c.http_port, 8080);
  EXPECT_TRUE(c.auth);
  EXPECT_EQ(c.digest.user, "admin");
  EXPECT_EQ(c.digest.qop, "");
  EXPECT_EQ(c.digest.algorithm, "");
  EXPECT_EQ(c.once, 2);
  EXPECT_TRUE(c.rrq_options.empty());
  EXPECT_EQ(c.second_port_acks, SecondPortAcks::ALSO);
  EXPECT_EQ(parse({"--final-version", "3.2.1"}).once, 1);

  parse({"--address", "10.0.0.2"}, OPTIONS_ERROR);
  parse({"--http-port", "0"}, OPTIONS_ERROR);
  parse({"--realm", "a\"b"}, OPTIONS_ERROR);
  parse({"--flash-seconds", "-1"}, OPTIONS_ERROR);
  parse({"--duplicate-acks=1"}, OPTIONS_ERROR);
  parse({"--send-error"}, OPTIONS_ERROR);
  parse({"--bogus"}, OPTIONS_ERROR);
  parse({"--help"}, OPTIONS_HELP);
}

std::vector<SimConfig> parse_devices(std::vector<const char*> args, std::string& error) {
  args.insert(args.begin(), "qor-device-sim");
  std::vector<SimConfig> devices;
  if (parse_sim_devices(static_cast<int>(args.size()), args.data(), devices, error) != OPTIONS_RUN)
    devices.clear();
  return devices;
}

// Options before the first --address are every device's; after it, that device's alone.
TEST(SimOptions, ManyDevicesTakeTheDefaultsAndTheirOwnOptions) {
  std::string error;
  auto devices =
      parse_devices({"--version-before", "3.1.0", "--address", "127.0.0.9", "--address", "127.0.0.8",
                     "--password", "pw", "--never-fetch", "--mac", "m", "--count", "2"},
                    error);
  const struct {
    std::uint32_t address;
    bool auth;
    bool never_fetch;
    const char* mac;
    const char* serial;
  } expected[] = {{0x7f000009, false, false, "02:00:7f:00:00:09", "QOR4700000009"},
                  {0x7f000008, true, true, "m", "QOR4700000008"},
                  {0x7f000002, false, false, "02:00:7f:00:00:02", "QOR4700000002"},
                  {0x7f000003, false, false, "02:00:7f:00:00:03", "QOR4700000003"}};
  ASSERT_EQ(devices.size(), std::size(expected)) << error;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    EXPECT_EQ(devices[i].address, expected[i].address) << i;
    EXPECT_EQ(devices[i].version_before, "3.1.0") << i;
    EXPECT_EQ(devices[i].auth, expected[i].auth) << i;
    EXPECT_EQ(devices[i].never_fetch, expected[i].never_fetch) << i;
    EXPECT_EQ(devices[i].mac_address, expected[i].mac) << i;
    EXPECT_EQ(devices[i].serial_number, expected[i].serial) << i;
  }
  // One device keeps the plain identity.
  EXPECT_EQ(parse({"--address", "127.0.0.9"}).mac_address, "02:00:00:47:10:01");

  const struct {
    std::vector<const char*> args;
    const char* error;
  } refused[] = {{{"--address", "127.0.0.3", "--count", "2"}, "two devices on 127.0.0.3 port 80"},
                 {{"--count", "0"}, "--count: expected a number from 1 to 1000"},
                 {{"--count", "1001"}, "--count: expected a number from 1 to 1000"}};
  for (const auto& r : refused) {
    EXPECT_TRUE(parse_devices(r.args, error).empty()) << r.error;
    EXPECT_EQ(error, r.error);
  }
}

}  // namespace
}  // namespace qor::sim
