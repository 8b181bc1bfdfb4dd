// Process-wide state of the upgrade. Every object here lives until the process ends.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace qor {

inline constexpr int MAX_LOCAL_ADDRESSES = 8;
inline constexpr std::size_t PAGE_BUFFER_SIZE = 131072;
inline constexpr int PAGE_CAPACITY = 0x1FFFF;  // one byte less than the buffer: room for the terminator
inline constexpr std::uint16_t HTTP_BIND_PORT_BASE = 23456;
inline constexpr std::uint16_t DEVICE_HTTP_PORT = 80;
inline constexpr const char* STATUS_PAGE_PATH = "/admin/advanced";

// Stands in for the module instance handle that every dialog call carried; never dereferenced.
using AppInstance = std::uintptr_t;
extern AppInstance app_instance;

extern char host_name[128];
// The PC's IPv4 addresses (host byte order); the first 0 ends the list.
extern std::uint32_t local_addresses[MAX_LOCAL_ADDRESSES];
extern std::uint32_t local_address;
// 0: the transition image is still to be sent; 1: the target image is to be sent. Only goes 0 -> 1.
extern std::atomic<std::int32_t> upgrade_stage;
extern std::uint32_t device_address;
extern char device_address_text[32];
extern char page_buffer[PAGE_BUFFER_SIZE];

// The name the device is told to fetch. The main thread rewrites it while the listener thread compares
// read requests with it, so it is only touched through these two calls.
void set_tftp_filename(const char* name);
void get_tftp_filename(char* out, std::size_t size);
bool tftp_filename_equals(const char* name);

// What the device reported on its status page.
struct DeviceInfo {
  char product_name[128];
  char mac_address[128];
  char software_version[128];
  char hardware_version[128];
  char serial_number[128];
};
extern DeviceInfo device_info;

// Copies at most size - 1 bytes of src and always terminates dst (when size > 0).
void copy_text(char* dst, std::size_t size, const char* src);

// Formats an IPv4 address (host byte order) as "%u.%u.%u.%u", most significant byte first.
void format_ipv4(char* out, std::size_t size, std::uint32_t address);

}  // namespace qor
