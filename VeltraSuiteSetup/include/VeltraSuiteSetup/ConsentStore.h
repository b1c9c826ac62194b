// The consent store: "consent-v1.json" in the folder ".suite-setup" of a registry folder, read
// without a lock and replaced atomically under "state.lock". Defined in ConsentStore.cc.
//
//   namespace S = veltra::VeltraSuiteSetup;
//   veltra::VeltraSuiteConsent consent = S::read(registry);   // no lock, never half-written
//   S::update(registry, [](veltra::VeltraSuiteConsent& r) { r.enabled = true; });
//
// `registry` is an absolute path without a trailing "/" (see absolutePath in Discovery.h). Failures
// are std::system_error in cocoaCategory() with the codes of CocoaError; DecodingError of the
// record and the encoder's and the file system's own errors pass through unchanged. Every
// operation is synchronous and keeps no state between calls; processes and threads may call them
// at once (the lock file orders the writers).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "VeltraSuiteSetup/CocoaError.h"
#include "VeltraSuiteSetup/VeltraSuiteConsent.h"

namespace veltra {

using ConsentChange = std::function<void(VeltraSuiteConsent&)>;

namespace VeltraSuiteSetup {

// Largest consent file accepted, in bytes.
inline constexpr std::uintmax_t kMaxConsentFileSize = 32768;

// Throws 257 unless `url` and every folder above it are free of symbolic links ("/tmp" and
// "/var" tolerated only where they are the system's links into "/private") and `url` is owned by
// the real user, has no group/other permission bits and is a directory (isDirectory) or a
// regular file of at most 32768 bytes.
void checkPrivatePath(const std::filesystem::path& url, bool isDirectory);

// Checks the registry folder, creates ".suite-setup" (0700 whatever the umask, no intermediates)
// if missing and checks it. Throws 257, or the folder creation's std::filesystem::filesystem_error.
void prepareStateFolder(const std::filesystem::path& registry);

// The stored record, or the default record when there is no state folder or file yet. Takes no
// lock. Throws 257 (unsafe path or file), 259 (short read, version or team not the suite's),
// DecodingError.
VeltraSuiteConsent read(const std::filesystem::path& registry);

// Runs `change` on the current record under "state.lock" and atomically replaces the file
// (PrivateFiles/AtomicFile.h: an anonymous file where the file system makes them, else a hidden
// ".<UUID>.tmp"; mode 0600 whatever the umask). Under the lock it first removes the hidden
// ".<UUID>.tmp" files that writers killed mid-write left. `change` must not call update (the
// lock is not re-entrant). Throws 257/259/DecodingError from the checks and the read, 513 when
// the lock file cannot be opened, 512 when locking, removing a leftover or writing fails or the
// new record would exceed 32768 bytes; the file is then unchanged, no temporary file is left and
// the lock is released.
void update(const std::filesystem::path& registry, const ConsentChange& change);

}  // namespace VeltraSuiteSetup
}  // namespace veltra
