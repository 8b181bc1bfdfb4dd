// The processors as the platform shows them: giving one up, and whether other tasks wait for one.
#pragma once

namespace qor {

// Lets another task that is ready to run on this processor run first.
void yield_cpu();

// True when the system has more tasks ready to run, the caller included, than processors: a thread that
// keeps its processor busy then holds another task up. False also when the platform does not say.
bool cpus_contended();

}  // namespace qor
