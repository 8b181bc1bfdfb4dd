#include "app/globals.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace qor {

AppInstance app_instance = 0;
char host_name[128];
std::uint32_t local_addresses[MAX_LOCAL_ADDRESSES];
std::uint32_t local_address = 0;
std::atomic<std::int32_t> upgrade_stage{1};
std::uint32_t device_address = 0;
char device_address_text[32];
char page_buffer[PAGE_BUFFER_SIZE];
DeviceInfo device_info;

namespace {
std::mutex filename_mutex;
char tftp_filename[128];
}  // namespace

void set_tftp_filename(const char* name) {
  std::lock_guard lock(filename_mutex);
  copy_text(tftp_filename, sizeof tftp_filename, name);
}

void get_tftp_filename(char* out, std::size_t size) {
  std::lock_guard lock(filename_mutex);
  copy_text(out, size, tftp_filename);
}

bool tftp_filename_equals(const char* name) {
  std::lock_guard lock(filename_mutex);
  return std::strcmp(tftp_filename, name) == 0;
}

void copy_text(char* dst, std::size_t size, const char* src) {
  if (size == 0) return;
  std::size_t n = 0;
  while (n + 1 < size && src[n] != '\0') {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = '\0';
}

void format_ipv4(char* out, std::size_t size, std::uint32_t a) {
  std::snprintf(out, size, "%u.%u.%u.%u", (a >> 24) & 0xFF, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
}

}  // namespace qor
