// Linked into every test executable: the socket library is started before any test runs, as the
// program's start-up does.
#include "net/socket.h"

namespace {
const bool networking_started = qor::start_networking();
}
