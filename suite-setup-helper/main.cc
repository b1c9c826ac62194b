// suite-setup-helper: connects Pellow with the other suite apps. Options on the command line,
// one JSON answer on standard output, status 0; on any failure status 1 and no output at all.

#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "PellowSession/Session.h"
#include "PrivateFiles/WriteAll.h"
#include "Session/Trace.h"
#include "VeltraSuiteSetup/Platform.h"
#include "VeltraSuiteSetup/linux/GtkAlertPresenter.h"
#include "VeltraSuiteSetup/linux/SystemAlertPresenter.h"
#include "suite-setup-helper/VeltraSuiteHelper.h"

int main(int argc, char** argv) {
  // A closed stdout must end in status 1, not in a signal.
  ::signal(SIGPIPE, SIG_IGN);
  // Every failure is status 1 without a word; PELLOW_TRACE is how a user learns why.
  pellow::trace::start(pellow::Session::current());
  // The desktop dialog when a display is available; its module is loaded only to show an alert.
  veltra::SystemAlertPresenter::installGraphicalPresenter(&veltra::makeGtkAlertPresenter);
  std::optional<std::string> answer;
  try {
    answer = veltra::VeltraSuiteHelper::run(std::vector<std::string>(argv, argv + argc),
                                            veltra::VeltraPlatform::system());
  } catch (...) {
    return 1;
  }
  if (!answer) return 1;
  return privatefiles::writeAll(STDOUT_FILENO, *answer) ? 1 : 0;
}
