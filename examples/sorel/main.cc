// Sorel, an example app of the Veltra suite: it embeds the suite-setup library's background
// reconcile and shows, in its window, the suite apps it is connected to.
//
//   Sorel [--registry FOLDER]      (the suite starts it without arguments)
//
// Built against the installed SDK alone (README.md). The suite connects it only when it runs
// from its signed bundle, Sorel.app/Contents/MacOS/Sorel.

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <chrono>
#include <csignal>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "Connections.h"
#include "MainLoopExecutor.h"
#include "SorelWindow.h"
#include "VeltraSuiteSetup/Discovery.h"
#include "VeltraSuiteSetup/VeltraSuiteBootstrap.h"

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  std::filesystem::path registry = sorel::sharedRegistry();
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string_view(argv[i]) == "--registry") registry = veltra::absolutePath(argv[i + 1]);
  }

  // reconcile runs on the GTK main loop, between Sorel's other events; the bootstrap's own
  // thread waits for it, so cycles never overlap.
  const sorel::MainLoopExecutor executor;
  const auto bootstrap = veltra::VeltraSuiteBootstrap::create(
      [executor](const std::function<void()>& call) { executor.run(call); });

  // Quitting, from the window or on SIGTERM/SIGINT (a session ending): stop() first (no
  // reconcile begins after it), then release a call that may be waiting for the main loop, then
  // leave the main loop.
  bool quitting = false;
  const std::function<void()> quit = [&] {
    if (std::exchange(quitting, true)) return;
    bootstrap->stop();
    executor.shutDown();
    gtk_main_quit();
  };
  sorel::SorelWindow window(quit);
  for (const int signal : {SIGTERM, SIGINT}) {
    g_unix_signal_add(
        signal,
        [](gpointer action) {
          (*static_cast<const std::function<void()>*>(action))();
          return gboolean{G_SOURCE_REMOVE};
        },
        const_cast<std::function<void()>*>(&quit));
  }

  bootstrap->start(std::string(sorel::kSorelBundleId), registry, [&window, registry] {
    try {
      window.showConnections(sorel::connectedApps(sorel::kSorelBundleId, registry));
    } catch (const std::exception&) {
      window.showNotice("Could not read the suite's connections; trying again shortly.");
    }
  });
  if (!bootstrap->isRunning()) {
    window.showNotice("Not started from the signed Sorel.app: not connected to the suite.");
  }

  gtk_main();
  // The loop ends as soon as a scan under way is done; wait for it before the window goes.
  bootstrap->waitForLoopEnd(std::chrono::seconds(5));
  return 0;
}
