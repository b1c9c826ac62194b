// Bringing GTK up inside a command-line helper that must not change its own behaviour: the helper
// never writes to stderr and formats its answer byte for byte the same with or without a display,
// so the toolkit's messages are dropped and the process keeps its C locale.

#include <fcntl.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

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

Backend backendOf(GdkDisplay* display) {
#ifdef GDK_WINDOWING_WAYLAND
  if (GDK_IS_WAYLAND_DISPLAY(display)) return Backend::wayland;
#endif
#ifdef GDK_WINDOWING_X11
  if (GDK_IS_X11_DISPLAY(display)) return Backend::x11;
#endif
  return Backend::none;
}

// Opens `name` with GDK's backend `backend` alone, so that a Wayland socket name is never
// handed to Xlib and the other way round. The allowed list is a plain setting that GDK consults
// on each open; GDK_BACKEND, when the user set it, still narrows it further.
GdkDisplay* openWith(const char* backend, const char* name) {
  if (name == nullptr || name[0] == '\0') return nullptr;
  gdk_set_allowed_backends(backend);
  return gdk_display_open(name);
}

}  // namespace

Backend openDisplay(const Displays& displays) noexcept {
  static bool prepared = false;
  static Backend open = Backend::none;
  if (open != Backend::none) return open;
  const char* programName = displays.programName;
  const bool sessionBusKnown = displays.sessionBusKnown;
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
    if (!sessionBusKnown) ::setenv("NO_AT_BRIDGE", "1", 1);
  }
  StderrSilenced silenced;
  // GTK without a display first: gtk_init_check would open whatever the environment names,
  // while the caller has already decided which displays count.
  if (gtk_parse_args(nullptr, nullptr) == FALSE) return Backend::none;
  // Wayland first, as GTK itself prefers: under a Wayland session DISPLAY usually names
  // Xwayland, where the compositor's focus and stacking rules reach the dialog only in part.
  GdkDisplay* display = openWith("wayland", displays.waylandDisplay);
  if (display == nullptr) display = openWith("x11", displays.x11Display);
  if (display == nullptr) return Backend::none;
  // The first display opened becomes GDK's default by itself; said here so that it does not
  // depend on that.
  gdk_display_manager_set_default_display(gdk_display_manager_get(), display);
  open = backendOf(display);
  return open;
}

}  // namespace veltra::gtkalert
