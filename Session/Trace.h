// The trace: one line per step of a helper's run, for a user or developer who needs to know why
// a run answered as it did. Off unless the session's PELLOW_TRACE asks for it:
//   PELLOW_TRACE=1              lines go to standard error;
//   PELLOW_TRACE=/absolute/file lines are appended to that file, created 0600 (never through a
//                               symbolic link); a file that cannot be opened means no trace.
// Any other value traces nothing.
//
//   pellow::trace::start(session);                         // once, in main
//   pellow::trace::line("store", "file store: no session bus");
//   if (pellow::trace::enabled()) pellow::trace::line("http", describe(request));
//
// A line is "<program>[<pid>] <area>: <text>", written with one write(2) so that lines of
// concurrent helpers do not interleave. The trace never carries a token, code, secret or
// request body: callers pass only what is safe to show (methods, paths, statuses, header values
// that GitHub documents as public, file paths, reasons). Tracing never fails a run: write errors
// are ignored. Thread-safe.
#pragma once

#include <string_view>

#include "PellowSession/Session.h"

namespace pellow::trace {

// Opens the trace that `session.trace` names; a second call replaces the first.
void start(const Session& session);

// Whether a trace is open (cheap: check it before building an expensive line).
bool enabled() noexcept;

// Writes one line when a trace is open; newlines inside `text` are written as spaces.
void line(std::string_view area, std::string_view text) noexcept;

// Closes the trace (tests).
void stop() noexcept;

}  // namespace pellow::trace
