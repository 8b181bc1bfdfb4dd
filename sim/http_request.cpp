#include "sim/http_request.h"

#include <cstdio>

namespace qor::sim {

namespace {

bool name_is(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = line[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != name[i]) return false;
  }
  return true;
}

std::string_view header_value(std::string_view line, std::size_t name_size) {
  std::string_view value = line.substr(name_size + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
    value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
    value.remove_suffix(1);
  return value;
}

bool parse_request_line(std::string_view line, HttpRequest& out) {
  std::size_t a = line.find(' ');
  if (a == std::string_view::npos || a == 0) return false;
  std::size_t b = line.find(' ', a + 1);
  if (b == std::string_view::npos || b == a + 1 || line.find(' ', b + 1) != std::string_view::npos)
    return false;
  out.method = std::string(line.substr(0, a));
  out.target = std::string(line.substr(a + 1, b - a - 1));
  out.version = std::string(line.substr(b + 1));
  return out.version.substr(0, 5) == "HTTP/";
}

void read_header(std::string_view line, HttpRequest& out) {
  if (name_is(line, "host")) {
    out.host = std::string(header_value(line, 4));
  } else if (name_is(line, "authorization")) {
    out.authorization = std::string(header_value(line, 13));
    out.has_authorization = true;
  }
}

}  // namespace

HeadResult parse_request_head(std::string_view data, HttpRequest& out) {
  HttpRequest request;
  std::size_t pos = 0;
  bool first = true;
  while (true) {
    std::size_t end = data.find('\n', pos);
    if (end == std::string_view::npos)
      return data.size() > MAX_REQUEST_HEAD ? HEAD_MALFORMED : HEAD_INCOMPLETE;
    std::string_view line = data.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = end + 1;
    if (pos > MAX_REQUEST_HEAD) return HEAD_MALFORMED;
    if (line.empty()) {
      if (first) return HEAD_MALFORMED;
      out = std::move(request);
      return HEAD_OK;
    }
    if (first) {
      if (!parse_request_line(line, request)) return HEAD_MALFORMED;
      first = false;
    } else {
      read_header(line, request);
    }
  }
}

std::string build_response(int status, const char* reason, const std::string& headers,
                           const std::string& body) {
  char line[128];
  std::snprintf(line, sizeof line, "HTTP/1.1 %d %s\r\n", status, reason);
  std::string reply = line;
  reply += "Server: qor-device-sim\r\n";
  reply += headers;
  reply += "Content-Type: text/html\r\n";
  reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  reply += "Connection: close\r\n\r\n";
  reply += body;
  return reply;
}

std::string status_page(const StatusValues& v) {
  auto row = [](const char* label, const std::string& value) {
    return std::string("<tr><td>") + label + "</td><td>" + value + "</td></tr>\n";
  };
  return "<html><head><title>QOR Device Status</title></head><body>\n<table>\n" +
         row("Product Name:", v.product_name) + row("Serial Number:", v.serial_number) +
         row("MAC Address:", v.mac_address) + row("Hardware Version:", v.hardware_version) +
         (v.version_label ? row("Software Version:", v.software_version) : std::string()) +
         "</table>\n</body></html>\n";
}

}  // namespace qor::sim
