#include "SorelWindow.h"

#include <ctime>

namespace sorel {
namespace {

std::string timeOfDay() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[16];
  return std::strftime(text, sizeof text, "%H:%M:%S", &local) > 0 ? text : "";
}

GtkWidget* label(const std::string& text, float xalign = 0.0F) {
  GtkWidget* widget = gtk_label_new(text.c_str());
  gtk_label_set_xalign(GTK_LABEL(widget), xalign);
  return widget;
}

}  // namespace

SorelWindow::SorelWindow(std::function<void()> onQuit) : onQuit_(std::move(onQuit)) {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window_), "Sorel");
  gtk_window_set_default_size(GTK_WINDOW(window_), 420, 280);
  g_signal_connect(window_, "delete-event", G_CALLBACK(&SorelWindow::closeRequested), this);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_container_set_border_width(GTK_CONTAINER(box), 18);
  gtk_container_add(GTK_CONTAINER(window_), box);

  GtkWidget* title = label("");
  gtk_label_set_markup(GTK_LABEL(title), "<b>Connected Veltra apps</b>");
  gtk_box_pack_start(GTK_BOX(box), title, FALSE, FALSE, 0);

  list_ = gtk_list_box_new();
  gtk_list_box_set_selection_mode(GTK_LIST_BOX(list_), GTK_SELECTION_NONE);
  GtkWidget* placeholder = label("Not connected to other Veltra apps yet.", 0.5F);
  gtk_widget_show(placeholder);
  gtk_list_box_set_placeholder(GTK_LIST_BOX(list_), placeholder);
  GtkWidget* frame = gtk_frame_new(nullptr);
  gtk_container_add(GTK_CONTAINER(frame), list_);
  gtk_box_pack_start(GTK_BOX(box), frame, TRUE, TRUE, 0);

  status_ = label("Checking the suite…");
  gtk_style_context_add_class(gtk_widget_get_style_context(status_), "dim-label");
  gtk_box_pack_start(GTK_BOX(box), status_, FALSE, FALSE, 0);

  GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
  gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
  GtkWidget* quit = gtk_button_new_with_mnemonic("_Quit");
  g_signal_connect(quit, "clicked", G_CALLBACK(&SorelWindow::quitClicked), this);
  gtk_container_add(GTK_CONTAINER(buttons), quit);
  gtk_box_pack_start(GTK_BOX(box), buttons, FALSE, FALSE, 0);

  gtk_widget_show_all(window_);
}

SorelWindow::~SorelWindow() { gtk_widget_destroy(window_); }

void SorelWindow::showConnections(const std::vector<ConnectedApp>& apps) {
  GList* rows = gtk_container_get_children(GTK_CONTAINER(list_));
  for (GList* row = rows; row != nullptr; row = row->next)
    gtk_widget_destroy(GTK_WIDGET(row->data));
  g_list_free(rows);
  for (const ConnectedApp& app : apps) {
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(row), 8);
    GtkWidget* name = label(app.name);
    gtk_widget_set_tooltip_text(name, app.bundleId.c_str());
    gtk_box_pack_start(GTK_BOX(row), name, TRUE, TRUE, 0);
    gtk_box_pack_end(GTK_BOX(row), label(app.running ? "running" : "not running", 1.0F), FALSE,
                     FALSE, 0);
    gtk_list_box_insert(GTK_LIST_BOX(list_), row, -1);
  }
  gtk_widget_show_all(list_);
  // The title names the connected apps, as the window list and the task switcher show it.
  std::string title = "Sorel";
  for (std::size_t i = 0; i < apps.size(); ++i) {
    title += (i == 0 ? " — connected to " : ", ") + apps[i].name;
  }
  gtk_window_set_title(GTK_WINDOW(window_), title.c_str());
  const std::string count = apps.size() == 1 ? "1 app" : std::to_string(apps.size()) + " apps";
  gtk_label_set_text(GTK_LABEL(status_),
                     ("Connected to " + count + " · checked at " + timeOfDay()).c_str());
}

void SorelWindow::showNotice(const std::string& text) {
  gtk_label_set_text(GTK_LABEL(status_), text.c_str());
}

void SorelWindow::quitClicked(GtkButton*, gpointer self) {
  static_cast<SorelWindow*>(self)->onQuit_();
}

gboolean SorelWindow::closeRequested(GtkWidget*, GdkEvent*, gpointer self) {
  static_cast<SorelWindow*>(self)->onQuit_();
  return TRUE;  // the window goes with the application
}

}  // namespace sorel
