// Test programs only: replaces the process's session (Session::current()) and returns the one it
// replaces, so that a test can run code that takes the default session with a session of its own
// making instead of changing the process environment:
//
//   pellow::Session mine = pellow::Session::current();
//   mine.dataHome = folder;
//   const pellow::Session saved = pellow::exchangeCurrentSession(mine);
//   ...   // code under test
//   pellow::exchangeCurrentSession(saved);
//
// Not synchronised: call it only while no other thread of the process uses the session.
// References that Session::current() returned see the new value. The helpers never call it.
#pragma once

#include "PellowSession/Session.h"

namespace pellow {

Session exchangeCurrentSession(Session replacement);

}  // namespace pellow
