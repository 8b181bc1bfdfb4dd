// The run record: everything one upgrade of one device needs. The entry point builds it and passes it
// down by reference; dialog procedures get it as their init parameter. Nothing of a run lives in a
// process-wide variable, so several runs can share one process.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "base/digest_state.h"
#include "base/firmware.h"
#include "base/outcome.h"
#include "base/timing.h"

namespace qor {

inline constexpr int MAX_LOCAL_ADDRESSES = 8;
inline constexpr std::size_t PAGE_BUFFER_SIZE = 131072;
inline constexpr int PAGE_CAPACITY = 0x1FFFF;  // one byte less than the buffer: room for the terminator
inline constexpr std::uint16_t HTTP_BIND_PORT_BASE = 23456;
inline constexpr std::uint16_t DEVICE_HTTP_PORT = 80;
inline constexpr const char* STATUS_PAGE_PATH = "/admin/advanced";
inline constexpr std::size_t DEVICE_FIELD_SIZE = 128;

// What the device reported on its status page.
struct DeviceInfo {
  char product_name[DEVICE_FIELD_SIZE];
  char mac_address[DEVICE_FIELD_SIZE];
  char software_version[DEVICE_FIELD_SIZE];
  char hardware_version[DEVICE_FIELD_SIZE];
  char serial_number[DEVICE_FIELD_SIZE];
};

// The name the device is told to fetch. The sequence rewrites it between the stages while the listener
// thread compares read requests with it; an empty name matches no request.
class TftpFilename {
 public:
  TftpFilename() = default;
  TftpFilename(const TftpFilename&) = delete;
  TftpFilename& operator=(const TftpFilename&) = delete;
  ~TftpFilename();

  void set(const char* name);
  void get(char* out, std::size_t size) const;
  bool equals(const char* name) const;

  // The number for a new name, 0 to 0x7FFF: drawn from the process's own unpredictable source and held
  // by no other live name of this process (so runs side by side never announce the same file). It
  // replaces the number this name held.
  unsigned draw_number();

 private:
  mutable std::mutex mutex_;
  char text_[128] = "";
  int number_ = -1;  // the number held in the process's pool; -1 when none
};

struct UpgradeRun {
  UpgradeRun() = default;
  UpgradeRun(const UpgradeRun&) = delete;
  UpgradeRun& operator=(const UpgradeRun&) = delete;

  // Fixed at start-up.
  FirmwareImage target_image{};
  FirmwareImage transition_image{};
  char product_display_name[32] = "";
  std::int32_t phone_variant = 0;
  std::uint32_t local_addresses[MAX_LOCAL_ADDRESSES] = {};  // host byte order; the first 0 ends the list
  Timing timing;

  // Set by the address dialog.
  std::uint32_t local_address = 0;
  std::uint32_t device_address = 0;
  char device_address_text[32] = "";
  TftpFilename tftp_filename;

  // 0: the transition image is still to be sent; 1: the target image. Only goes 0 -> 1, written by the
  // sequence until the listener thread starts and by the listener thread afterwards.
  std::atomic<std::int32_t> upgrade_stage{1};

  // What the device last reported: the status page read before the upgrade (written by the sequence
  // before the listener starts), then each verification's page (written by the listener thread).
  DeviceInfo device_info{};

  // Credentials and the latest challenge; the requests of the run share it, and a request left
  // waiting on the network keeps it alive.
  std::shared_ptr<SharedDigest> digest = std::make_shared<SharedDigest>();

  // The last stage whose image the device acknowledged whole (it is writing or has written it to its
  // flash); -1 while none. Written by the listener thread.
  std::atomic<std::int32_t> delivered_stage{-1};

  // How the run ended, once it has.
  std::atomic<Outcome> outcome{Outcome::none};
};

}  // namespace qor
