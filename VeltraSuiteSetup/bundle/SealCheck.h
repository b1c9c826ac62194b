// The seal of an open bundle: every regular file listed in the manifest with its SHA-256, nothing
// unlisted, no link, device, FIFO or socket, and no entry that another user could change.
//
//   std::string problem;
//   std::optional<veltra::SealedContents> sealed = veltra::checkSeal(std::move(bundleFd), index,
//                                                                    problem);
//   if (sealed && sealed->executable) ...;   // start the very file that was hashed
//
// Everything is read through descriptors relative to the open bundle folder. Info.json is taken
// from the bytes that were hashed, and the main executable it names stays open on the descriptor
// that was hashed, so that what is started later is what was checked, whatever is renamed in the
// meantime. Thread-safe: no state.
#pragma once

#include <optional>
#include <string>

#include "PrivateFiles/UniqueFd.h"
#include "VeltraSuiteSetup/bundle/BundleManifest.h"
#include "VeltraSuiteSetup/bundle/ManifestReader.h"

namespace veltra {

struct SealedContents {
  std::optional<BundleInfo> info;  // none without a readable Info.json of at most kMaxInfoSize
  privatefiles::UniqueFd
      executable;  // invalid when the info names no regular file in Contents/MacOS
};

// Checks the bundle open as `bundle` (a folder descriptor at offset 0) against `manifest`: the
// folder itself and every entry below it pass sealedEntry (BundlePath.h), and the regular files
// other than the two signature files are exactly the listed ones, each with its digest. nullopt
// with `problem` naming the first fault otherwise.
std::optional<SealedContents> checkSeal(privatefiles::UniqueFd bundle,
                                        const ManifestIndex& manifest, std::string& problem);

}  // namespace veltra
