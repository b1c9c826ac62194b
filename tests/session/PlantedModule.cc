// A module that another account plants beside a program: its constructor, if it ever runs,
// leaves a file at $PELLOW_PLANTED_MARKER, as an attacker's code would act as the victim.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace {

__attribute__((constructor)) void planted() {
  const char* marker = std::getenv("PELLOW_PLANTED_MARKER");
  if (marker != nullptr) {
    const int fd = open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
  }
}

}  // namespace

// The entry point the helper asks for, so that a loader that loads it also uses it.
extern "C" __attribute__((visibility("default"))) const void* pellow_net_module_v1() {
  return nullptr;
}
