// Clean process-wide request state around each test of the device client and runner.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/globals.h"
#include "http/device_client.h"
#include "tests/support/http_test_server.h"

namespace qor::test {

class HttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clear_digest_state();
    std::memset(&device_info, 0, sizeof device_info);
    std::memset(page_buffer, 0, sizeof page_buffer);
  }
  void TearDown() override {
    // A worker left waiting on a held connection finishes once its server is gone: wait for it, so
    // that it never writes into the next test's state.
    std::lock_guard lock(request_mutex());
    clear_digest_state();
  }

  std::int32_t fetch(const HttpTestServer& server, const char* path = STATUS_PAGE_PATH) {
    return fetch_device_page(LOOPBACK_ADDRESS, HTTP_BIND_PORT_BASE, LOOPBACK_ADDRESS, server.port(), path,
                             page_buffer, PAGE_CAPACITY);
  }

  static void set_credentials(const char* username, const char* password) {
    copy_text(digest_state.username, sizeof digest_state.username, username);
    copy_text(digest_state.password, sizeof digest_state.password, password);
  }
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

}  // namespace qor::test
