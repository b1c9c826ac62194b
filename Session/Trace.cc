#include "Session/Trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>

namespace pellow::trace {
namespace {

std::mutex gMutex;
int gDescriptor = -1;  // guarded by gMutex
bool gOwned = false;   // whether gDescriptor is ours to close
std::string gProgram;  // guarded by gMutex
std::atomic<bool> gEnabled{false};

void closeLocked() {
  if (gOwned && gDescriptor >= 0) ::close(gDescriptor);
  gDescriptor = -1;
  gOwned = false;
  gEnabled.store(false);
}

int openTraceFile(const std::string& path) {
  // O_NOFOLLOW: a link planted where the user asked for a trace must not redirect it.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    // Made by us: 0600 whatever the umask.
    ::fchmod(fd, 0600);
    return fd;
  }
  if (errno != EEXIST) return -1;
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace

void start(const Session& session) {
  const std::lock_guard<std::mutex> hold(gMutex);
  closeLocked();
  gProgram = session.executable.filename().string();
  if (gProgram.empty()) gProgram = "pellow";
  if (session.trace == "1") {
    gDescriptor = STDERR_FILENO;
  } else if (!session.trace.empty() && session.trace[0] == '/') {
    gDescriptor = openTraceFile(session.trace);
    gOwned = gDescriptor >= 0;
  }
  gEnabled.store(gDescriptor >= 0);
}

bool enabled() noexcept { return gEnabled.load(std::memory_order_relaxed); }

void line(std::string_view area, std::string_view text) noexcept {
  if (!enabled()) return;
  try {
    const std::lock_guard<std::mutex> hold(gMutex);
    if (gDescriptor < 0) return;
    std::string out = gProgram + "[" + std::to_string(::getpid()) + "] ";
    out.append(area);
    out += ": ";
    for (const char c : text) out += (c == '\n' || c == '\r') ? ' ' : c;
    out += '\n';
    // One write per line; a short or failed write is not retried: the trace is best effort.
    const ssize_t written = ::write(gDescriptor, out.data(), out.size());
    static_cast<void>(written);
  } catch (...) {
    // Out of memory while tracing: drop the line rather than fail the run.
  }
}

void stop() noexcept {
  const std::lock_guard<std::mutex> hold(gMutex);
  closeLocked();
}

}  // namespace pellow::trace
