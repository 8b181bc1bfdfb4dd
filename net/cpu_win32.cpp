#include "net/cpu.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace qor {

void yield_cpu() {
  SwitchToThread();
}

// Windows keeps no count of the threads ready to run that a program could read cheaply.
bool cpus_contended() {
  return false;
}

}  // namespace qor
