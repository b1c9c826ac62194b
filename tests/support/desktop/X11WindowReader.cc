#include "tests/support/desktop/X11WindowReader.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdk.h>
#include <gdk/gdkx.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace veltra::test {
namespace {

GdkDisplay* display() {
  static GdkDisplay* const opened = [] {
    if (gdk_init_check(nullptr, nullptr) == FALSE) return static_cast<GdkDisplay*>(nullptr);
    return gdk_display_get_default();
  }();
  if (opened == nullptr) throw std::runtime_error("cannot open the test display");
  return opened;
}

Display* xdisplay() { return gdk_x11_display_get_xdisplay(display()); }

}  // namespace

X11WindowReader::X11WindowReader() { static_cast<void>(display()); }

bool X11WindowReader::keptAbove(unsigned long window) {
  Display* x = xdisplay();
  const Atom state = XInternAtom(x, "_NET_WM_STATE", False);
  const Atom above = XInternAtom(x, "_NET_WM_STATE_ABOVE", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  gdk_x11_display_error_trap_push(display());
  const int result = XGetWindowProperty(x, window, state, 0, 64, False, XA_ATOM, &type, &format,
                                        &count, &remaining, &data);
  gdk_x11_display_error_trap_pop_ignored(display());
  bool found = false;
  if (result == Success && data != nullptr && format == 32) {
    // Format-32 properties arrive as an array of long, whatever the atom size.
    const auto* atoms = reinterpret_cast<const Atom*>(data);
    for (unsigned long i = 0; i < count; ++i) found = found || atoms[i] == above;
  }
  if (data != nullptr) XFree(data);
  return found;
}

bool X11WindowReader::urgent(unsigned long window) {
  gdk_x11_display_error_trap_push(display());
  XWMHints* hints = XGetWMHints(xdisplay(), window);
  gdk_x11_display_error_trap_pop_ignored(display());
  if (hints == nullptr) return false;
  const bool flag = (hints->flags & XUrgencyHint) != 0;
  XFree(hints);
  return flag;
}

unsigned long X11WindowReader::focus() {
  Window focused = None;
  int revert = 0;
  XGetInputFocus(xdisplay(), &focused, &revert);
  return focused;
}

void X11WindowReader::requestClose(unsigned long window) {
  Display* x = xdisplay();
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(x, window, False, NoEventMask, &event);
  XFlush(x);
}

unsigned long X11WindowReader::transientFor(unsigned long window) {
  Window parent = None;
  gdk_x11_display_error_trap_push(display());
  const Status found = XGetTransientForHint(xdisplay(), window, &parent);
  gdk_x11_display_error_trap_pop_ignored(display());
  return found != 0 ? parent : 0;
}

unsigned long X11WindowReader::makeWindow() {
  Display* x = xdisplay();
  const Window window =
      XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 400, 300, 0, 0, 0xffffff);
  XMapWindow(x, window);
  XSync(x, False);
  return window;
}

void X11WindowReader::savePng(unsigned long window, const std::filesystem::path& path) {
  GdkWindow* foreign = gdk_x11_window_foreign_new_for_display(display(), window);
  if (foreign == nullptr) throw std::runtime_error("no such window");
  const int width = gdk_window_get_width(foreign);
  const int height = gdk_window_get_height(foreign);
  GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(foreign, 0, 0, width, height);
  g_object_unref(foreign);
  if (pixbuf == nullptr) throw std::runtime_error("cannot read the window's pixels");
  GError* error = nullptr;
  const gboolean saved =
      gdk_pixbuf_save(pixbuf, path.c_str(), "png", &error, static_cast<const char*>(nullptr));
  g_object_unref(pixbuf);
  if (saved == FALSE) {
    const std::string message = error != nullptr ? error->message : "unknown error";
    g_clear_error(&error);
    throw std::runtime_error("cannot save " + path.string() + ": " + message);
  }
}

}  // namespace veltra::test
