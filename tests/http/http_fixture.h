// A fresh run, device fields and page buffer for each test of the device client and runner.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/run.h"
#include "base/text.h"
#include "http/device_client.h"
#include "http/digest.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/http_test_server.h"

namespace qor::test {

inline RequestJob job_for(std::uint16_t port, const char* path = STATUS_PAGE_PATH) {
  return RequestJob{LOOPBACK_ADDRESS, HTTP_BIND_PORT_BASE, LOOPBACK_ADDRESS, port, path};
}

class HttpTest : public ::testing::Test {
 protected:
  RequestResult fetch(std::uint16_t port, const char* path = STATUS_PAGE_PATH) {
    return fetch_device_page(job_for(port, path), page.data(), PAGE_CAPACITY, *run.digest, info);
  }
  DigestState& digest() { return run.digest->state; }
  void set_credentials(const char* username, const char* password) {
    copy_text(digest().username, sizeof digest().username, username);
    copy_text(digest().password, sizeof digest().password, password);
  }

  UpgradeRun run;
  DeviceInfo info{};
  std::vector<char> page = std::vector<char>(PAGE_BUFFER_SIZE);
};

// Tests that drive the request runner, with its windows on a scripted toolkit.
class RunnerTest : public HttpTest {
 protected:
  void SetUp() override { copy_text(run.device_address_text, sizeof run.device_address_text, "10.1.0.13"); }
  long count_shown(int template_id) { return std::ranges::count(fake_->shown_templates(), template_id); }

  ScopedFakeToolkit fake_;
};

inline std::string status_page(const std::string& product = "QOR-2102",
                               const std::string& software = "3.2.1") {
  return "<html><table><tr><td>Product Name:</td><td>" + product +
         "</td></tr>\r\n<tr><td>MAC Address:</td><td>00:0E:08:12:34:56</td></tr>\r\n"
         "<tr><td>Software Version:</td><td>" +
         software +
         "</td></tr>\r\n<tr><td>Hardware Version:</td><td>2.0</td></tr>\r\n"
         "<tr><td>Serial Number:</td><td>FM500123</td></tr></table></html>";
}

inline HttpReply challenge_reply(const std::string& nonce, const std::string& extra = "qop=\"auth\"") {
  return http_page("<html>Unauthorized</html>", "401 Unauthorized",
                   "WWW-Authenticate: Digest realm=\"QOR\", nonce=\"" + nonce + "\", " + extra + "\r\n");
}

// A port on 127.0.0.1 that refuses connections for as long as the returned socket lives.
inline Socket refusing_port(std::uint16_t& port) {
  Socket s(open_tcp_socket());
  bind_socket(s.get(), LOOPBACK_ADDRESS, 0);
  port = local_port(s.get());
  return s;
}

// The device's side of Digest with qop "auth": a page for the right password under `nonce`.
inline bool authorized(const std::string& request, const char* nonce, const char* password) {
  std::size_t at = request.find("cnonce=\"");
  std::size_t nc_at = request.find(",nc=");
  if (at == std::string::npos || nc_at == std::string::npos) return false;
  std::string cnonce = request.substr(at + 8, request.find('"', at + 8) - at - 8);
  std::string nc = request.substr(nc_at + 4, 9);
  char expected[MD5_HEX_SIZE];
  compute_digest_response(nonce, cnonce.c_str(), "admin", "QOR", password, "", nc.c_str(), "GET", "auth",
                          STATUS_PAGE_PATH, "", expected);
  return request.find(std::string("response=\"") + expected + "\"") != std::string::npos;
}

inline std::int32_t size_of(const HttpReply& reply) {
  return static_cast<std::int32_t>(reply.bytes.size());
}

}  // namespace qor::test
