// Stand-in executable of a suite app in test bundles: it runs until it is killed, or at most two
// minutes, so that a test that forgets it leaves nothing behind for long.
//
// When the folder that holds its bundle has a folder "reports", it first writes
// reports/<pid>.txt: its working folder ("cwd=..."), umask ("umask=0022") and environment (one
// "env=NAME=VALUE" line each), so that tests see how it was started. The file appears complete
// (written aside, then renamed).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

extern char** environ;

namespace {

void report() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return;
  // <holder>/<Name>.app/Contents/MacOS/<exe>
  const fs::path reports = exe.parent_path().parent_path().parent_path().parent_path() / "reports";
  if (!fs::is_directory(reports, error)) return;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const std::string name = std::to_string(::getpid()) + ".txt";
  {
    std::ofstream out(reports / ("." + name));
    out << "cwd=" << fs::current_path(error).string() << "\n";
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mask));
    out << "umask=" << octal << "\n";
    for (char** entry = environ; *entry != nullptr; ++entry) out << "env=" << *entry << "\n";
  }
  fs::rename(reports / ("." + name), reports / name, error);
}

}  // namespace

int main() {
  report();
  for (int i = 0; i < 120; ++i) ::sleep(1);
  return 0;
}
