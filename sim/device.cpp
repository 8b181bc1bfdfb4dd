#include "sim/device.h"

#include <cstdio>

#include "sim/sim_log.h"

namespace qor::sim {

namespace {

constexpr const char* FIXED_NONCE = "5f0e1d2c3b4a69788796a5b4c3d2e1f0";

Clock::duration seconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

// Called with the lock held.
void check_once(Device& d, bool good, const std::string& image_version) {
  if (d.config.once == 0 || d.ending) return;
  bool met = !good;
  if (good)
    met = d.config.final_version.empty() ? d.good_fetches >= d.config.once
                                         : image_version == d.config.final_version;
  if (!met) return;
  d.ending = true;
  Clock::time_point from = std::max(Clock::now(), d.offline_until);
  d.linger_until = from + seconds(d.config.linger_seconds);
  sim_log("device", "last fetch done; ending once the status page has been read (at most %.0f s)",
          d.config.linger_seconds);
}

// Keeps the image as it arrived, for a test to compare byte for byte.
void save_image(Device& d, const FetchResult& r) {
  if (d.config.save_images.empty()) return;
  std::string path = d.config.save_images + "/" + ipv4_text(d.config.address) + "-" +
                     std::to_string(d.good_fetches + 1) + ".bin";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  bool written = file && std::fwrite(r.data.data(), 1, r.data.size(), file) == r.data.size();
  if (file && std::fclose(file) != 0) written = false;
  sim_log("device", written ? "image kept as %s" : "cannot write %s", path.c_str());
}

void flash(Device& d, const FetchResult& r) {
  save_image(d, r);
  const std::string& reported = d.config.report_version.empty() ? r.image.version : d.config.report_version;
  d.version = reported;
  d.offline_until = Clock::now() + seconds(d.config.flash_seconds);
  d.nonces.clear();
  sim_log("device", "image %s accepted (%u bytes); flashing for %.1f s, then reporting version %s",
          r.image.version.c_str(), r.bytes, d.config.flash_seconds, reported.c_str());
}

}  // namespace

std::string device_version(Device& d) {
  std::lock_guard<std::mutex> hold(d.lock);
  return d.version;
}

bool device_flashed(Device& d) {
  std::lock_guard<std::mutex> hold(d.lock);
  return d.good_fetches > 0;
}

bool device_stopping(const Device& d) {
  return stop_requested || d.stopping;
}

bool device_offline(Device& d) {
  std::lock_guard<std::mutex> hold(d.lock);
  return Clock::now() < d.offline_until;
}

std::string issue_nonce(Device& d) {
  std::lock_guard<std::mutex> hold(d.lock);
  if (d.config.nonce_mode == NonceMode::FIXED) return FIXED_NONCE;
  char text[40];
  std::snprintf(text, sizeof text, "%08x%08x%04x", static_cast<unsigned>(d.random()),
                static_cast<unsigned>(d.random()), ++d.nonce_serial & 0xffff);
  d.nonces.emplace_back(text);
  if (d.nonces.size() > MAX_NONCES) d.nonces.erase(d.nonces.begin());
  return text;
}

bool nonce_known(Device& d, const std::string& nonce) {
  std::lock_guard<std::mutex> hold(d.lock);
  if (d.config.nonce_mode == NonceMode::FIXED) return nonce == FIXED_NONCE;
  for (const auto& n : d.nonces) {
    if (n == nonce) return true;
  }
  return false;
}

bool claim_fetch(Device& d) {
  std::lock_guard<std::mutex> hold(d.lock);
  if (d.fetching || Clock::now() < d.offline_until || d.ending) return false;
  d.fetching = true;
  return true;
}

void join_fetch(Device& d) {
  std::lock_guard<std::mutex> hold(d.fetch_lock);
  if (d.fetch_thread.joinable()) d.fetch_thread.join();
}

void start_fetch(Device& d, const UpgradeTarget& target) {
  std::lock_guard<std::mutex> hold(d.fetch_lock);
  // The previous fetch has let go of the device, so its thread is finishing or gone.
  if (d.fetch_thread.joinable()) d.fetch_thread.join();
  d.fetch_thread = std::thread([&d, target] {
    set_log_device(d.label);
    finish_fetch(d, run_tftp_fetch(d.config, target));
  });
}

void finish_fetch(Device& d, const FetchResult& r) {
  std::lock_guard<std::mutex> hold(d.lock);
  bool good = r.complete && r.image.valid;
  if (stop_requested && !r.complete) {
    sim_log("device", "fetch interrupted after %u bytes", r.bytes);
    d.fetching = false;
    return;
  }
  if (!r.complete) {
    sim_log("device", "fetch failed after %u bytes: %s", r.bytes, r.failure.c_str());
  } else if (!r.image.valid) {
    sim_log("device", "image refused (%u bytes): %s; still reporting %s", r.bytes, r.image.reason.c_str(),
            d.version.c_str());
  } else {
    flash(d, r);
  }
  good ? ++d.good_fetches : ++d.bad_fetches;
  check_once(d, good, r.image.version);
  d.fetching = false;
}

void note_status_page(Device& d) {
  std::lock_guard<std::mutex> hold(d.lock);
  if (d.ending) d.page_read_since = true;
}

bool device_done(Device& d) {
  std::lock_guard<std::mutex> hold(d.lock);
  if (!d.ending || d.fetching) return false;
  if (d.page_read_since) {
    sim_log("device", "status page read after the last fetch: done");
    return true;
  }
  if (Clock::now() < d.linger_until) return false;
  sim_log("device", "nobody read the status page after the last fetch: done");
  return true;
}

int device_exit_status(Device& d) {
  std::lock_guard<std::mutex> hold(d.lock);
  if (d.bad_fetches > 0) return EXIT_BAD_IMAGE;
  if (d.config.once > 0 && !d.ending) return EXIT_INTERRUPTED;
  return EXIT_DONE;
}

}  // namespace qor::sim
