// What the session and listener tests share: test images in place of the embedded ones, shortened
// timing, and the process-wide state they touch, all restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/firmware.h"
#include "app/globals.h"
#include "app/process.h"
#include "app/timing.h"
#include "net/socket.h"
#include "tests/support/fake_toolkit.h"
#include "tests/tftp/tftp_test_peer.h"
#include "tftp/tftp_listener.h"
#include "tftp/tftp_session.h"
#include "ui/error_box.h"

namespace qor::test {

inline Bytes pattern_bytes(std::size_t size, unsigned seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i)
    b[i] = static_cast<unsigned char>(i * 13 + i / 512 + seed);
  return b;
}

inline void make_image(FirmwareImage& image, const Bytes& bytes, const char* version) {
  image.data = bytes.data();
  image.size = static_cast<std::uint32_t>(bytes.size());
  std::memset(image.header, 0, sizeof image.header);
  std::memcpy(image.header, bytes.data(), std::min(bytes.size(), sizeof image.header));
  std::memset(image.header + IMAGE_VERSION_OFFSET, 0, IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET);
  copy_text(reinterpret_cast<char*>(image.header + IMAGE_VERSION_OFFSET),
            IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET, version);
}

// Collects the trace lines of the run.
class TraceRecorder {
 public:
  TraceRecorder() {
    std::lock_guard lock(mutex());
    lines().clear();
    set_trace_sink(&record);
  }
  ~TraceRecorder() { set_trace_sink(nullptr); }
  static std::vector<std::string> get() {
    std::lock_guard lock(mutex());
    return lines();
  }
  static bool contains(const std::string& line) {
    auto all = get();
    return std::find(all.begin(), all.end(), line) != all.end();
  }

 private:
  static void record(const char* line) {
    std::lock_guard lock(mutex());
    lines().emplace_back(line);
  }
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static std::vector<std::string>& lines() {
    static std::vector<std::string> l;
    return l;
  }
};

class TftpStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_timing_ = timing;
    saved_target_ = target_image;
    saved_transition_ = transition_image;
    saved_stage_ = upgrade_stage.load();
    saved_phone_ = phone_variant;
    timing.polls_per_interval = 5000;  // a slow machine must not provoke resends the tests do not expect
    timing.settle_steps = 2;
    timing.settle_sleep_ms = 4;
    timing.verify_attempts = 0;  // most tests stop short of the status page; those that read it say so
    target_bytes_ = pattern_bytes(1024, 1);
    transition_bytes_ = pattern_bytes(700, 2);
    make_image(target_image, target_bytes_, "3.2.1");
    make_image(transition_image, transition_bytes_, "3.0.5");
    upgrade_stage.store(1);
    phone_variant = 0;
    std::memset(&device_info, 0, sizeof device_info);
    copy_text(device_address_text, sizeof device_address_text, "127.0.7.1");
  }

  void TearDown() override {
    timing = saved_timing_;
    target_image = saved_target_;
    transition_image = saved_transition_;
    upgrade_stage.store(saved_stage_);
    phone_variant = saved_phone_;
  }

  // Brings a listener thread that a test left half-way to its end, as a user's Cancel would.
  void cancel_until_ended() {
    for (int i = 0; i < 500 && !trap_.ended(); ++i) {
      Window w = waiting_window.load();
      if (w == Window::none) w = upload_window.load();
      if (w != Window::none) fake_->click(w, IDCANCEL);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  std::vector<std::string> box_texts() {
    std::vector<std::string> out;
    for (const auto& b : fake_->message_boxes())
      out.push_back(b.text);
    return out;
  }

  bool shown(int template_id) {
    auto all = fake_->shown_templates();
    return std::find(all.begin(), all.end(), template_id) != all.end();
  }

  // Index of an event, or -1.
  int event_index(const std::string& event) {
    auto all = fake_->events();
    auto it = std::find(all.begin(), all.end(), event);
    return it == all.end() ? -1 : static_cast<int>(it - all.begin());
  }

  ScopedFakeToolkit fake_;
  ExitTrap trap_;
  Timing saved_timing_;
  FirmwareImage saved_target_{}, saved_transition_{};
  std::int32_t saved_stage_ = 1;
  std::int32_t saved_phone_ = 0;
  Bytes target_bytes_, transition_bytes_;
};

// A session run on a thread of its own from a loopback socket, as the listener runs it, with the
// device played by a test peer.
class SessionTest : public TftpStateTest {
 protected:
  static constexpr std::uint32_t SERVER_ADDRESS = 0x7F000001;

  void SetUp() override {
    TftpStateTest::SetUp();
    server_ = Socket(open_udp_socket());
    ASSERT_TRUE(bind_socket(server_.get(), SERVER_ADDRESS, 0));
    server_port_ = local_port(server_.get());
  }

  void TearDown() override {
    if (worker_.joinable()) worker_.join();
    TftpStateTest::TearDown();
  }

  void start(TftpTestPeer& peer) {
    peer.aim(SERVER_ADDRESS, server_port_);
    worker_ = std::thread([this, &peer] {
      try {
        run_tftp_session(server_.get(), SERVER_ADDRESS, peer.address(), peer.port());
        returned_ = true;
      } catch (const ProcessExit&) {
      }
    });
  }

  void finish() { worker_.join(); }

  Socket server_;
  std::uint16_t server_port_ = 0;
  std::thread worker_;
  std::atomic<bool> returned_{false};
};

}  // namespace qor::test
