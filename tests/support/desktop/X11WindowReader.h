// What the dialog tests look at and do on the X server beyond what xdotool offers: a window's
// state hints, the input focus, the window manager's close request, and a PNG of a window.
//
//   veltra::test::X11WindowReader x;        // connects to $DISPLAY (set before the first use)
//   if (x.keptAbove(window)) ...
//
// One connection per process, opened on first use through GDK. Not thread-safe.
#pragma once

#include <filesystem>

namespace veltra::test {

class X11WindowReader {
 public:
  // Throws std::runtime_error when $DISPLAY cannot be opened.
  X11WindowReader();

  bool keptAbove(unsigned long window);  // _NET_WM_STATE holds _NET_WM_STATE_ABOVE
  bool urgent(unsigned long window);     // WM_HINTS carries the urgency flag
  unsigned long focus();                 // the window holding the input focus
  // What a window manager sends when the user clicks the title bar's close button.
  void requestClose(unsigned long window);
  // The window that `window` is transient for (WM_TRANSIENT_FOR), 0 when none.
  unsigned long transientFor(unsigned long window);
  // Creates and maps a plain top-level window that lives as long as this process: an
  // application's window for a dialog to attach to.
  unsigned long makeWindow();
  // Saves the window's current contents as PNG; throws std::runtime_error on failure.
  void savePng(unsigned long window, const std::filesystem::path& path);
};

}  // namespace veltra::test
