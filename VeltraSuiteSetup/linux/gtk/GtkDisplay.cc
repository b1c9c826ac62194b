// Bringing GTK up inside a command-line helper that must not change its own behaviour: the helper
// never writes to stderr and formats its answer byte for byte the same with or without a display,
// so the toolkit's messages are dropped and the process keeps its C locale.

#include <fcntl.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "VeltraSuiteSetup/linux/gtk/GtkAlertDialog.h"

namespace veltra::gtkalert {
namespace {

void discardLogMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

GLogWriterOutput discardStructuredLog(GLogLevelFlags, const GLogField*, gsize, gpointer) {
  return G_LOG_WRITER_HANDLED;
}

// Points fd 2 at /dev/null for the lifetime of the object. Xlib reports a refused connection
// with its own fprintf(stderr), which no GLib handler sees; the helper is single-threaded
// while the display is opened, so nothing else of ours can write to stderr meanwhile.
class StderrSilenced {
 public:
  StderrSilenced() : saved_(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0)) {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
  }
  ~StderrSilenced() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  StderrSilenced(const StderrSilenced&) = delete;
  StderrSilenced& operator=(const StderrSilenced&) = delete;

 private:
  int saved_;
};

bool sessionBusReachable() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && address[0] != '\0') return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || runtime[0] == '\0') return false;
  struct stat info {};
  return ::stat((std::string(runtime) + "/bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

bool openDisplay(const char* programName) noexcept {
  static bool prepared = false;
  static bool open = false;
  if (open) return true;
  if (!prepared) {
    prepared = true;
    // Both paths: GTK 3 logs through g_log's handlers, GLib and GIO through the structured
    // writer. The writer may be set only once per process, hence the guard.
    g_log_set_default_handler(&discardLogMessage, nullptr);
    g_log_set_writer_func(&discardStructuredLog, nullptr, nullptr);
    // The window class and the accessibility tree name the program; GTK would take it from
    // argv, which it is not given.
    if (programName != nullptr && programName[0] != '\0' && g_get_prgname() == nullptr) {
      g_set_prgname(programName);
    }
    // gtk_init would call setlocale(LC_ALL, ""), after which the rest of the run could format
    // and parse numbers differently from a run without a display.
    gtk_disable_setlocale();
    // The accessibility bridge finds screen readers over the session bus. Without one, D-Bus
    // would autolaunch a bus daemon on the X display that outlives the helper; with no session
    // bus there is no screen reader to reach anyway.
    if (!sessionBusReachable()) ::setenv("NO_AT_BRIDGE", "1", 1);
  }
  StderrSilenced silenced;
  open = gtk_init_check(nullptr, nullptr) != FALSE;
  return open;
}

}  // namespace veltra::gtkalert
