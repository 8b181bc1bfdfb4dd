#include "app/timing.h"

namespace qor {
Timing timing;
}
