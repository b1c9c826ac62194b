#include "VeltraSuiteSetup/linux/TerminalAlertPresenter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <system_error>

#include "PrivateFiles/UniqueFd.h"
#include "PrivateFiles/WriteAll.h"

namespace veltra {

using privatefiles::UniqueFd;

namespace {

constexpr std::size_t kMaxAnswerLength = 4096;

void writeAll(int fd, std::string_view text) {
  if (const std::error_code error = privatefiles::writeAll(fd, text))
    throw std::system_error(error);
}

// One line without its newline; nullopt at end of input before a newline.
std::optional<std::string> readLine(int fd) {
  std::string line;
  while (true) {
    char c;
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    if (c == '\n') return line;
    if (line.size() < kMaxAnswerLength) line.push_back(c);
  }
}

std::string trimmed(std::string text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

}  // namespace

TerminalAlertPresenter::TerminalAlertPresenter(std::string terminal)
    : terminal_(std::move(terminal)) {}

int TerminalAlertPresenter::runModal(const AlertContent& alert) {
  const UniqueFd tty(::open(terminal_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!tty) throw std::system_error(errno, std::generic_category());

  std::string text = "\n" + alert.messageText + "\n\n" + alert.informativeText + "\n\n";
  for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
    text += "  " + std::to_string(i + 1) + ") " + alert.buttons[i] + (i == 0 ? " (default)" : "") +
            "\n";
  }
  text += "Choose [1]: ";
  writeAll(tty.get(), text);

  const auto line = readLine(tty.get());
  if (!line) {
    writeAll(tty.get(), "\n");
    return kAlertFirstButtonReturn + 1;
  }
  const std::string answer = trimmed(*line);
  return answer.empty() || answer == "1" ? kAlertFirstButtonReturn : kAlertFirstButtonReturn + 1;
}

}  // namespace veltra
