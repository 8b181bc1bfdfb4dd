// The few pieces of HTTP/1.1 the device's web server needs: the request head and the reply.
#pragma once

#include <string>
#include <string_view>

namespace qor::sim {

inline constexpr std::size_t MAX_REQUEST_HEAD = 8192;

struct HttpRequest {
  std::string method;
  std::string target;
  std::string version;
  std::string host;
  std::string authorization;  // the header's value, blanks before it dropped
  bool has_authorization = false;
};

enum HeadResult { HEAD_OK = 0, HEAD_INCOMPLETE = 1, HEAD_MALFORMED = 2 };

// `data` is what has arrived so far; HEAD_INCOMPLETE until the empty line that ends the head.
// Lines may end in CR LF or in LF alone.
HeadResult parse_request_head(std::string_view data, HttpRequest& out);

// A complete reply that closes the connection; `headers` are extra lines, each ending in CR LF.
std::string build_response(int status, const char* reason, const std::string& headers,
                           const std::string& body);

struct StatusValues {
  std::string product_name;
  std::string mac_address;
  std::string software_version;
  std::string hardware_version;
  std::string serial_number;
  bool version_label = true;  // false: the page leaves out "Software Version:" and its value
};

std::string status_page(const StatusValues& values);

}  // namespace qor::sim
