// The alert as this session can show it, chosen at run time on every call: a graphical dialog
// when a display is available (DISPLAY or WAYLAND_DISPLAY set) and a graphical presenter has been
// installed; otherwise, or when the graphical one cannot show itself, the terminal presenter; with
// neither, runModal throws the terminal's open error and the alert is not shown.
//
//   veltra::SystemAlertPresenter::installGraphicalPresenter(&makeGtkAlertPresenter);
//
// installGraphicalPresenter must be called before any alert, from one thread.
#pragma once

#include <memory>

#include "VeltraSuiteSetup/Platform.h"

namespace veltra {

class SystemAlertPresenter final : public AlertPresenter {
 public:
  // Makes the graphical presenter, or returns null when it cannot be used (for instance no
  // display connection could be opened).
  using Factory = std::unique_ptr<AlertPresenter> (*)();
  static void installGraphicalPresenter(Factory factory);

  int runModal(const AlertContent& alert) override;
};

}  // namespace veltra
