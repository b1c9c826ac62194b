// Sorel's window: the suite apps it is connected to, when that was last checked, and a Quit
// button.
//
//   SorelWindow window([] { quit(); });
//   window.showConnections(apps);              // after each reconcile
//
// GTK is single-threaded: make and use the window on the main loop's thread only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

#include "Connections.h"

namespace sorel {

class SorelWindow {
 public:
  // `onQuit` runs when the user quits (the Quit button, or closing the window).
  explicit SorelWindow(std::function<void()> onQuit);
  SorelWindow(const SorelWindow&) = delete;
  SorelWindow& operator=(const SorelWindow&) = delete;
  ~SorelWindow();

  // Replaces the list with `apps`, names them in the title and notes the time of the check.
  void showConnections(const std::vector<ConnectedApp>& apps);
  // A line under the list (a failed check, or why the suite connection is off).
  void showNotice(const std::string& text);

 private:
  static void quitClicked(GtkButton*, gpointer self);
  static gboolean closeRequested(GtkWidget*, GdkEvent*, gpointer self);

  std::function<void()> onQuit_;
  GtkWidget* window_;
  GtkWidget* list_;
  GtkWidget* status_;
};

}  // namespace sorel
