#include "http/digest.h"

#include <cstring>

namespace qor {

DigestState digest_state;

void clear_digest_state() { std::memset(&digest_state, 0, sizeof digest_state); }

}  // namespace qor
