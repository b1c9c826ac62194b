// The alert as a GtkMessageDialog: the toolkit's default message style (no icon in GTK 3), the
// primary and secondary texts, and one button per label in the given order.

#include "VeltraSuiteSetup/linux/gtk/GtkAlertDialog.h"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace veltra::gtkalert {
namespace {

// A toplevel belongs to GTK's list of toplevels, which drops it when it is destroyed. Our own
// reference keeps the object valid until we let go, however the window ended; destroying a
// destroyed widget again is harmless.
struct WidgetDestroyer {
  void operator()(GtkWidget* widget) const noexcept {
    gtk_widget_destroy(widget);
    g_object_unref(widget);
  }
};
using OwnedDialog = std::unique_ptr<GtkWidget, WidgetDestroyer>;

OwnedDialog ownedDialog(GtkWidget* widget) {
  g_object_ref(widget);
  return OwnedDialog(widget);
}

struct ObjectUnref {
  void operator()(gpointer object) const noexcept { g_object_unref(object); }
};
// A foreign X11 window that the dialog is transient for; kept until the dialog is gone.
using ForeignWindow = std::unique_ptr<GdkWindow, ObjectUnref>;

// Makes the realized dialog transient for the asking application's window, so that the window
// manager or compositor keeps it with that window (above it, on its workspace). Only a parent
// of the dialog's own window system can be had: an X11 window id means nothing to a Wayland
// compositor, nor an xdg-foreign handle to an X server.
ParentOutcome attachToParent(GtkWindow* window, const DialogContent& content,
                             ForeignWindow& foreign) {
  if (content.parentHandle == nullptr || content.parentHandle[0] == '\0') {
    return ParentOutcome::none;
  }
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window));
  if (gdkWindow == nullptr) return ParentOutcome::refused;
#ifdef GDK_WINDOWING_WAYLAND
  if (GDK_IS_WAYLAND_WINDOW(gdkWindow)) {
    if (content.parentBackend != Backend::wayland) return ParentOutcome::otherSystem;
    // GDK's API takes a mutable string it does not change.
    GString* handle = g_string_new(content.parentHandle);
    const gboolean attached = gdk_wayland_window_set_transient_for_exported(gdkWindow, handle->str);
    g_string_free(handle, TRUE);
    return attached ? ParentOutcome::attached : ParentOutcome::refused;
  }
#endif
#ifdef GDK_WINDOWING_X11
  if (GDK_IS_X11_WINDOW(gdkWindow)) {
    if (content.parentBackend != Backend::x11) return ParentOutcome::otherSystem;
    errno = 0;
    char* end = nullptr;
    const unsigned long id = std::strtoul(content.parentHandle, &end, 0);
    if (errno != 0 || end == content.parentHandle || *end != '\0' || id == 0) {
      return ParentOutcome::refused;
    }
    // Null when no such window exists (GDK traps the X error).
    foreign.reset(gdk_x11_window_foreign_new_for_display(gdk_window_get_display(gdkWindow), id));
    if (!foreign) return ParentOutcome::refused;
    gdk_window_set_transient_for(gdkWindow, foreign.get());
    return ParentOutcome::attached;
  }
#endif
  return ParentOutcome::otherSystem;
}

// Brings the dialog to the front as the application the user is working with now. On X11 a
// timestamp fresh from the server makes the window manager's focus-stealing prevention treat the
// request as the user's latest action, which is what a question the user must answer needs.
void present(GtkWindow* window) {
  gtk_widget_realize(GTK_WIDGET(window));
#ifdef GDK_WINDOWING_X11
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window));
  if (gdkWindow != nullptr && GDK_IS_X11_WINDOW(gdkWindow)) {
    gtk_window_present_with_time(window, gdk_x11_get_server_time(gdkWindow));
    return;
  }
#endif
  gtk_window_present(window);
}

// Presenting a window that is not yet on screen only maps it; the focus request itself has to
// wait until it is mapped. Without a window manager (a kiosk session, a bare X server) nobody
// else would ever give the dialog the keyboard.
//
// On Wayland that focus request is an xdg-activation request. Compositors that prevent focus
// stealing (GNOME Shell, KWin) grant it only with a token that the user's last action produced,
// so the token the asking application handed over goes with it. GDK consumes the display's
// startup id on its next focus request (and when it announces a finished startup, which it does
// while mapping), so it is set here, right before that request, not earlier.
gboolean presentOnceMapped(GtkWidget* widget, GdkEvent*, gpointer token) {
  g_signal_handlers_disconnect_by_func(widget, reinterpret_cast<gpointer>(&presentOnceMapped),
                                       token);
#ifdef GDK_WINDOWING_WAYLAND
  GdkDisplay* display = gtk_widget_get_display(widget);
  if (token != nullptr && GDK_IS_WAYLAND_DISPLAY(display)) {
    gdk_wayland_display_set_startup_notification_id(display, static_cast<const char*>(token));
  }
#endif
  present(GTK_WINDOW(widget));
  return FALSE;
}

// Lets GTK finish unmapping and destroying the window, so that the dialog has left the screen
// before the caller goes on. Bounded: a busy event source must not keep the helper here.
void flushPendingEvents() {
  for (int round = 0; round < 1000 && gtk_events_pending(); ++round) {
    gtk_main_iteration_do(FALSE);
  }
  if (GdkDisplay* display = gdk_display_get_default()) gdk_display_sync(display);
}

}  // namespace

DialogAnswer runDialog(const DialogContent& content) noexcept {
  OwnedDialog dialog = ownedDialog(gtk_message_dialog_new(
      nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_NONE, "%s", content.message));
  GtkWindow* window = GTK_WINDOW(dialog.get());
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog.get()), "%s",
                                           content.informative);

  // Labels go in as plain text: gtk_dialog_add_button would read "_" as a mnemonic marker.
  GtkWidget* defaultButton = nullptr;
  for (std::size_t index = 0; index < content.buttons.size(); ++index) {
    GtkWidget* button = gtk_button_new_with_label(content.buttons[index]);
    gtk_widget_set_can_default(button, TRUE);
    gtk_dialog_add_action_widget(GTK_DIALOG(dialog.get()), button, static_cast<gint>(index));
    gtk_widget_show(button);
    if (index == 0) defaultButton = button;
  }
  if (defaultButton != nullptr) {
    gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), 0);
    // The message labels are selectable and would otherwise take the focus; with the default
    // button focused, Enter and Space both answer it.
    gtk_window_set_focus(window, defaultButton);
  }

  // The title names the program, as the window list and task switcher show it. The question is
  // the dialog's own first line, which the title bar right above it (GTK's own on Wayland, the
  // window manager's on X11) would otherwise repeat word for word.
  if (const char* name = g_get_application_name()) gtk_window_set_title(window, name);
  gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(window, TRUE);
  const bool haveToken = content.activationToken != nullptr && content.activationToken[0] != '\0';
  // The token outlives the handler: content is the caller's and runDialog blocks until the end.
  gpointer token = haveToken ? const_cast<char*>(content.activationToken) : nullptr;
  g_signal_connect(dialog.get(), "map-event", G_CALLBACK(&presentOnceMapped), token);
  gtk_widget_realize(GTK_WIDGET(window));
  ForeignWindow foreignParent;
  const ParentOutcome parent = attachToParent(window, content, foreignParent);
  present(window);
  // Set once the window exists on the server: GDK drops the hint on a window that is not
  // shown yet.
  gtk_window_set_urgency_hint(window, TRUE);

  const gint response = gtk_dialog_run(GTK_DIALOG(dialog.get()));
  dialog.reset();
  flushPendingEvents();
  // Escape, the window manager's close button and a destroyed window answer with GTK's negative
  // response codes: they are no button.
  if (response >= 0 && static_cast<std::size_t>(response) < content.buttons.size()) {
    return {static_cast<int>(response), parent};
  }
  return {-1, parent};
}

}  // namespace veltra::gtkalert
