// Placeholder until the request runner lands.
#include "http/request_runner.h"

namespace qor {

std::int32_t run_device_request(RequestJob) { return 0; }

}  // namespace qor
