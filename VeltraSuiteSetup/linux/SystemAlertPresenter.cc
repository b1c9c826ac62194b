#include "VeltraSuiteSetup/linux/SystemAlertPresenter.h"

#include <atomic>
#include <cstdlib>

#include "VeltraSuiteSetup/linux/TerminalAlertPresenter.h"

namespace veltra {
namespace {

std::atomic<SystemAlertPresenter::Factory> graphicalFactory{nullptr};

bool displayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

}  // namespace

void SystemAlertPresenter::installGraphicalPresenter(Factory factory) {
  graphicalFactory.store(factory);
}

int SystemAlertPresenter::runModal(const AlertContent& alert) {
  if (const Factory factory = graphicalFactory.load(); factory != nullptr && displayAvailable()) {
    if (const auto graphical = factory()) return graphical->runModal(alert);
  }
  TerminalAlertPresenter terminal;
  return terminal.runModal(alert);
}

}  // namespace veltra
