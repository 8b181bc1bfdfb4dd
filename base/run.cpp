#include "base/run.h"

#include <bitset>
#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <thread>

#include "base/text.h"

namespace qor {

namespace {

// File numbers of the live names of this process, and the source they are drawn from.
class FileNumberPool {
 public:
  unsigned draw(int previous) {
    std::lock_guard lock(mutex_);
    if (previous >= 0) in_use_.reset(static_cast<std::size_t>(previous));
    std::uniform_int_distribution<unsigned> pick(0, NUMBERS - 1);
    unsigned n = pick(engine_);
    // Far more numbers than runs can be alive at once; should every one be taken, share rather than hang.
    for (unsigned tries = 0; in_use_.test(n) && tries < 4 * NUMBERS; ++tries)
      n = pick(engine_);
    in_use_.set(n);
    return n;
  }

  void release(int number) {
    std::lock_guard lock(mutex_);
    if (number >= 0) in_use_.reset(static_cast<std::size_t>(number));
  }

 private:
  static constexpr unsigned NUMBERS = 0x8000;

  // The system's random device, mixed with the clock and the thread in case a platform's device is weak.
  static std::mt19937 seeded() {
    std::random_device device;
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    const auto thread = std::hash<std::thread::id>{}(std::this_thread::get_id());
    std::seed_seq seed{device(),
                       device(),
                       device(),
                       device(),
                       static_cast<unsigned>(now),
                       static_cast<unsigned>(now >> 32),
                       static_cast<unsigned>(thread)};
    return std::mt19937(seed);
  }

  std::mutex mutex_;
  std::mt19937 engine_ = seeded();
  std::bitset<NUMBERS> in_use_;
};

FileNumberPool& file_numbers() {
  static FileNumberPool pool;
  return pool;
}

}  // namespace

TftpFilename::~TftpFilename() {
  file_numbers().release(number_);
}

unsigned TftpFilename::draw_number() {
  std::lock_guard lock(mutex_);
  const unsigned n = file_numbers().draw(number_);
  number_ = static_cast<int>(n);
  return n;
}

void TftpFilename::set(const char* name) {
  std::lock_guard lock(mutex_);
  copy_text(text_, sizeof text_, name);
}

void TftpFilename::get(char* out, std::size_t size) const {
  std::lock_guard lock(mutex_);
  copy_text(out, size, text_);
}

bool TftpFilename::equals(const char* name) const {
  std::lock_guard lock(mutex_);
  return text_[0] != '\0' && std::strcmp(text_, name) == 0;
}

}  // namespace qor
