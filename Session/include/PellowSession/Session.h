// Session: what the process was started with, read once. Both libraries take their home, data
// and runtime folders, session bus, displays, own executable and sandbox from one of these and
// read no environment variable themselves, so every rule about the environment is written here
// once: absolute paths only (a relative value counts as unset), and a runtime folder counts only
// when it is a real folder of this user that no one else may enter.
//
//   const pellow::Session& session = pellow::Session::current();   // made on first use
//   if (session.sessionBusKnown()) ...                                 // a keyring may answer
//   std::filesystem::path items = session.dataHome / "PellowGitHub";
//
// Tests make their own instead of changing the process environment:
//
//   pellow::Session session = pellow::Session::fromEnvironment({{"HOME", folder}});
//   pellow::Session bare{.userID = ::getuid(), .home = folder, .dataHome = folder / "data"};
//
// A plain value: copy it freely; it never changes after it is made. What decides where two
// processes meet (the keyring's credential lock) depends on the user id and the password
// database only (passwordDatabaseHome()), never on a value that came from the environment.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>

namespace pellow {

struct Session {
  uid_t userID = 0;
  // The home folder of the password database's entry for userID (absolute), read only when HOME
  // is unset, empty or relative, and empty otherwise: git starts the helper on every fetch, and a
  // lookup may cost a directory service's round trip. passwordDatabaseHome() reads it on demand.
  std::filesystem::path passwdHome;
  // HOME when absolute, else passwdHome.
  std::filesystem::path home;
  // XDG_DATA_HOME when absolute, else home/.local/share; empty without a home folder.
  std::filesystem::path dataHome;
  // XDG_RUNTIME_DIR when absolute and a folder (not a link) of userID with no group or other
  // permission; otherwise empty.
  std::filesystem::path runtimeFolder;
  // DBUS_SESSION_BUS_ADDRESS when not empty, else "unix:path=<runtimeFolder>/bus" when that is a
  // socket (where systemd and dbus-broker put the user's bus); otherwise empty.
  std::string sessionBusAddress;
  // DISPLAY and WAYLAND_DISPLAY as given (empty when unset).
  std::string display;
  std::string waylandDisplay;
  // XDG_ACTIVATION_TOKEN as given (empty when unset): the xdg-activation token the application
  // that started the process handed over, so that a window of ours may take the focus on a
  // compositor that refuses focus to windows that bring no token.
  std::string activationToken;
  // VELTRA_PARENT_WINDOW as given (empty when unset): the exported window handle of the
  // application that asked, "wayland:<xdg-foreign handle>" or "x11:<window id>". Read, never
  // checked, here; whoever attaches a window to it parses it.
  std::string parentWindow;
  // The running program (/proc/self/exe), empty when it cannot be read.
  std::filesystem::path executable;
  // Whether the process runs inside a Flatpak sandbox (/.flatpak-info exists).
  bool flatpak = false;
  // Inside a Flatpak sandbox: the app id, the "name" key of the "[Application]" group of
  // /.flatpak-info (for example "com.pemberhollo.Pellow"); empty elsewhere or when unreadable.
  std::string flatpakAppID;
  // PELLOW_TRACE as given: "1" traces to standard error, an absolute path appends to that file.
  std::string trace;
  // Test builds only (empty otherwise): PELLOW_TEST_CONNECT_TO and PELLOW_TEST_CAINFO.
  std::string testConnectTo;
  std::string testCAInfo;

  // Reads the process: its environment, the password database, /proc/self/exe and
  // /.flatpak-info. Never throws for a missing value; missing values stay empty.
  static Session fromProcess();

  // As fromProcess(), but with `environment` in place of the process environment (names not in
  // the map are unset). The password database and file system are read for real.
  static Session fromEnvironment(const std::map<std::string, std::string>& environment);

  // The home folder of the password database's entry for `user` (absolute), else empty. Reads
  // the database on every call.
  static std::filesystem::path passwordDatabaseHome(uid_t user);

  // The process's session, made by fromProcess() the first time it is asked for. Thread-safe.
  static const Session& current();

  // Whether a session bus address is known (a keyring or accessibility bus may answer there).
  bool sessionBusKnown() const { return !sessionBusAddress.empty(); }

  // Whether a graphical display (X11 or Wayland) is named.
  bool displayAvailable() const { return !display.empty() || !waylandDisplay.empty(); }
};

}  // namespace pellow
