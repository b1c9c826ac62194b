// The walk over a bundle's tree through descriptors only: every folder is opened with openat and
// O_NOFOLLOW relative to its parent, so that an entry swapped for a link while the walk runs is
// refused, never followed.
//
//   class Lister final : public veltra::BundleVisitor { ... };
//   std::string problem;
//   if (!veltra::walkBundle(std::move(bundleFd), lister, problem)) ...;   // problem names the entry
//
// Entries come in directory order, each folder before what it holds. Thread-safe: no state.
#pragma once

#include <sys/stat.h>

#include <string>

#include "PrivateFiles/UniqueFd.h"

namespace veltra {

class BundleVisitor {
 public:
  virtual ~BundleVisitor() = default;
  // A folder below the bundle ("/"-separated path relative to the bundle), before its entries.
  // False stops the walk.
  virtual bool folder(const std::string& relative, const struct stat& info) = 0;
  // A regular file, open for reading at offset 0; the visitor may keep the descriptor by moving
  // it out. False stops the walk.
  virtual bool file(const std::string& relative, privatefiles::UniqueFd& fd,
                    const struct stat& info) = 0;
};

// Walks everything below the open folder `root`. False, with `problem` naming the entry, at the
// first symbolic link, device, FIFO, socket, unreadable entry, nesting deeper than 64 folders, or
// when the visitor stops (then `problem` is left to the visitor when it set one).
bool walkBundle(privatefiles::UniqueFd root, BundleVisitor& visitor, std::string& problem);

}  // namespace veltra
