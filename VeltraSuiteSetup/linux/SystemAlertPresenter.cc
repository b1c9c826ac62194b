#include "VeltraSuiteSetup/linux/SystemAlertPresenter.h"

#include <atomic>

#include "PellowSession/Session.h"
#include "VeltraSuiteSetup/linux/TerminalAlertPresenter.h"

namespace veltra {
namespace {

std::atomic<SystemAlertPresenter::Factory> graphicalFactory{nullptr};

}  // namespace

void SystemAlertPresenter::installGraphicalPresenter(Factory factory) {
  graphicalFactory.store(factory);
}

int SystemAlertPresenter::runModal(const AlertContent& alert) {
  if (const Factory factory = graphicalFactory.load();
      factory != nullptr && pellow::Session::current().displayAvailable()) {
    if (const auto graphical = factory()) return graphical->runModal(alert);
  }
  TerminalAlertPresenter terminal;
  return terminal.runModal(alert);
}

}  // namespace veltra
