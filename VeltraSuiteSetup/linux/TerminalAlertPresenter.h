// The connection alert on the controlling terminal (/dev/tty), for sessions without a display.
//
//   veltra::TerminalAlertPresenter presenter;            // or with another terminal path (tests)
//   int answer = presenter.runModal(alert);              // 1000: first button
//
// Writes the message text, the informative text and the buttons numbered in order, the first
// marked as the default, then reads one line. An empty line (Enter) or "1" answers the first
// button; anything else, end of input included, answers the second (declines). Throws
// std::system_error with the open error when there is no controlling terminal. Standard input and
// output are never used, so the helper's answer on stdout stays clean. Not thread-safe per object.
#pragma once

#include <string>

#include "VeltraSuiteSetup/Platform.h"

namespace veltra {

class TerminalAlertPresenter final : public AlertPresenter {
 public:
  explicit TerminalAlertPresenter(std::string terminal = "/dev/tty");
  int runModal(const AlertContent& alert) override;

 private:
  std::string terminal_;
};

}  // namespace veltra
