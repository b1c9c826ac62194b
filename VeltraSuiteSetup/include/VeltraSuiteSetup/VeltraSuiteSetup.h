// The suite-setup operations, one header per concern:
//
//   ConsentStore.h   the consent file: checkPrivatePath, prepareStateFolder, read, update
//   PairRules.h      pair, permits, approvePair, block, isBlocked, applySuiteAnswer
//   Catalogue.h      catalogue and identity: team, names, isCatalogueApp, identity, verified
//   Discovery.h      VeltraInstalledApp, absolutePath, isIsolated, installed, installedSetKey
//   Scan.h           scan with its ScanOptions, the connection alert's text
//   ConnectLaunch.h  connectPair, launchDestination, isRunning
//
//   using namespace veltra;
//   auto consent = VeltraSuiteSetup::read(registry);               // no lock, never half-written
//   VeltraSuiteSetup::update(registry, [](VeltraSuiteConsent& r) { r.enabled = true; });
//   VeltraSuiteSetup::approvePair("com.pemberhollo.pellow", "com.pemberhollo.sorel", registry);
//   auto apps = VeltraSuiteSetup::scan(local, appURL, registry,
//                                      {.isolated = isolated, .force = false, .canPrompt = true});
//
// Decision: `VeltraSuiteSetup` is a C++ namespace, `veltra::VeltraSuiteSetup`, reopened by each
// concern header, rather than a struct of static members. A struct must be declared whole in one
// header; a namespace lets each concern declare only its own operations next to the .cc that
// defines them, while callers keep writing `VeltraSuiteSetup::update(...)`. Include this header
// for all of them, or one concern header for part. (A short name is a namespace alias:
// `namespace S = veltra::VeltraSuiteSetup;`.)
//
// Common to all: paths are absolute without a trailing "/". Failures are std::system_error in
// cocoaCategory() with the codes of CocoaError; DecodingError of the consent record and the
// encoder's and the file system's own errors pass through unchanged. Every operation is
// synchronous and keeps no state between calls. Operations that take a VeltraPlatform use its
// services; the overloads without one use VeltraPlatform::system().
#pragma once

#include "VeltraSuiteSetup/Catalogue.h"
#include "VeltraSuiteSetup/CocoaError.h"
#include "VeltraSuiteSetup/ConnectLaunch.h"
#include "VeltraSuiteSetup/ConsentStore.h"
#include "VeltraSuiteSetup/Discovery.h"
#include "VeltraSuiteSetup/PairRules.h"
#include "VeltraSuiteSetup/Platform.h"
#include "VeltraSuiteSetup/Scan.h"
#include "VeltraSuiteSetup/VeltraSuiteConsent.h"
