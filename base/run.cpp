#include "base/run.h"

#include <cstring>

#include "base/text.h"

namespace qor {

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
  return std::strcmp(text_, name) == 0;
}

}  // namespace qor
