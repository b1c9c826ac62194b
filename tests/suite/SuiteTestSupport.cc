#include "tests/suite/SuiteTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <random>
#include <sstream>
#include <stdexcept>

#include "VeltraSuiteSetup/Catalogue.h"
#include "VeltraSuiteSetup/CocoaError.h"
#include "VeltraSuiteSetup/bundle/BundleManifest.h"

namespace veltra::test {
namespace fs = std::filesystem;

int cocoaCode(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().category(), cocoaCategory()) << error.what();
    return error.code().value();
  }
  return 0;
}

bool haveDevelopmentAnchor() { return std::string_view(VELTRA_TEST_ANCHOR_KEY).size() > 0; }

namespace {

void openssl(const std::vector<std::string>& args) {
  std::vector<std::string> argv{VELTRA_TEST_OPENSSL};
  argv.insert(argv.end(), args.begin(), args.end());
  if (testkit::run(argv).status != 0)
    throw std::runtime_error("openssl " + args.front() + " failed");
}

void makeKey(const fs::path& key) {
  openssl({"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-out",
           key.string()});
}

// Issues a certificate for `subject` signed by `caCert`/`caKey` with the extensions in `ext`.
void issue(const fs::path& dir, const std::string& name, const std::string& subject,
           const fs::path& caCert, const fs::path& caKey, const std::string& ext,
           const std::string& digest = "sha256") {
  const fs::path key = dir / (name + ".key");
  makeKey(key);
  const fs::path csr = dir / (name + ".csr");
  openssl({"req", "-new", "-key", key.string(), "-subj", subject, "-out", csr.string()});
  testkit::writeFile(dir / (name + ".ext"), ext);
  // A random serial: "-CAcreateserial" would write a serial file beside the shared anchor,
  // which test processes running side by side would race on.
  static std::mt19937_64 random(std::random_device{}());
  const std::string serial = std::to_string(random() >> 2);
  openssl({"x509", "-req", "-in", csr.string(), "-CA", caCert.string(), "-CAkey", caKey.string(),
           "-set_serial", serial, "-days", "30", "-" + digest, "-extfile",
           (dir / (name + ".ext")).string(), "-out", (dir / (name + ".pem")).string()});
}

constexpr const char* kCaExt =
    "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n";
constexpr const char* kCodeSigningExt =
    "basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
    "extendedKeyUsage=codeSigning\n";
constexpr const char* kEmailExt =
    "basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
    "extendedKeyUsage=emailProtection\n";

Pki makePki() {
  static testkit::TemporaryFolder folder;  // lives for the whole test process
  const fs::path dir = folder.path();
  const fs::path anchorCert = VELTRA_TEST_ANCHOR_CERT;
  const fs::path anchorKey = VELTRA_TEST_ANCHOR_KEY;
  issue(dir, "intermediate", "/O=Pemberhollo/CN=Veltra Test Signing CA", anchorCert, anchorKey,
        kCaExt);
  const fs::path intermediateCert = dir / "intermediate.pem";
  const fs::path intermediateKey = dir / "intermediate.key";
  issue(dir, "suite", "/O=Pemberhollo/OU=K4TQ7WMX2P/CN=Veltra Suite Signing", intermediateCert,
        intermediateKey, kCodeSigningExt);
  issue(dir, "other", "/O=Someone Else/OU=Z9ZZZZZZZ9/CN=Other Signing", intermediateCert,
        intermediateKey, kCodeSigningExt);
  issue(dir, "email", "/O=Pemberhollo/OU=K4TQ7WMX2P/CN=Veltra Mail", intermediateCert,
        intermediateKey, kEmailExt);
  issue(dir, "sha1", "/O=Pemberhollo/OU=K4TQ7WMX2P/CN=Veltra Suite Signing", intermediateCert,
        intermediateKey, kCodeSigningExt, "sha1");

  const fs::path rogueKey = dir / "rogue-root.key";
  makeKey(rogueKey);
  testkit::writeFile(dir / "rogue-root.ext", kCaExt);
  openssl({"req", "-x509", "-key", rogueKey.string(), "-subj", "/O=Pemberhollo/CN=Rogue Root",
           "-days", "30", "-sha256", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
           "keyUsage=critical,keyCertSign,cRLSign", "-out", (dir / "rogue-root.pem").string()});
  issue(dir, "rogue", "/O=Pemberhollo/OU=K4TQ7WMX2P/CN=Veltra Suite Signing",
        dir / "rogue-root.pem", rogueKey, kCodeSigningExt);

  auto signer = [&](const std::string& name, const fs::path& chain) {
    return Signer{dir / (name + ".key"), dir / (name + ".pem"), chain};
  };
  return Pki{signer("suite", intermediateCert), signer("other", intermediateCert),
             signer("email", intermediateCert), signer("rogue", dir / "rogue-root.pem"),
             signer("sha1", intermediateCert)};
}

}  // namespace

const Pki& pki() {
  static const Pki instance = makePki();
  return instance;
}

testkit::ChildProcess startHelper(const std::vector<std::string>& args, const fs::path& home,
                                  bool terminal) {
  std::vector<std::string> argv{VELTRA_HELPER_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return testkit::ChildProcess(argv, {.environment = {{"HOME", home},
                                                      {"DISPLAY", std::nullopt},
                                                      {"WAYLAND_DISPLAY", std::nullopt}},
                                      .terminal = terminal});
}

testkit::ProcessResult runHelper(const std::vector<std::string>& args, const fs::path& home) {
  return startHelper(args, home).finish(std::chrono::seconds(20));
}

std::vector<int> processesRunningFrom(const fs::path& folder) {
  std::vector<int> pids;
  const std::string prefix = folder.string() + "/";
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code error;
    const fs::path exe = fs::read_symlink(entry.path() / "exe", error);
    if (!error && exe.string().starts_with(prefix)) {
      // A zombie keeps no exe link, so everything listed here is alive.
      pids.push_back(std::stoi(name));
    }
  }
  return pids;
}

void killProcessesRunningFrom(const fs::path& folder) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto pids = processesRunningFrom(folder);
    if (pids.empty()) return;
    for (const int pid : pids) ::kill(pid, SIGKILL);
    ::usleep(20000);
  }
}

std::optional<LaunchReport> waitForLaunchReport(const fs::path& reports) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(reports, error)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with(".") || !name.ends_with(".txt")) continue;
      LaunchReport report;
      std::istringstream lines(testkit::readFile(entry.path()));
      for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("cwd=")) report.cwd = line.substr(4);
        if (line.starts_with("umask=")) report.umask = line.substr(6);
        if (line.starts_with("env=")) report.environment.push_back(line.substr(4));
      }
      return report;
    }
    ::usleep(10000);
  }
  return std::nullopt;
}

std::string appName(const std::string& bundleId) {
  const auto it = veltra::VeltraSuiteSetup::names().find(bundleId);
  return it == veltra::VeltraSuiteSetup::names().end() ? "Other" : it->second;
}

fs::path makeBundle(const fs::path& folder, const std::string& name, const std::string& bundleId,
                    const fs::path& executableSource) {
  const fs::path bundle = folder / (name + ".app");
  const std::string executable = name;
  testkit::writeFile(bundle / "Contents" / "Info.json", "{\"CFBundleIdentifier\":\"" + bundleId +
                                                            "\",\"CFBundleExecutable\":\"" +
                                                            executable + "\"}");
  const fs::path binary = bundle / "Contents" / "MacOS" / executable;
  if (executableSource.empty()) {
    testkit::writeFile(binary, "#!/bin/sh\nexit 0\n", 0755);
  } else {
    fs::create_directories(binary.parent_path());
    fs::copy_file(executableSource, binary, fs::copy_options::overwrite_existing);
    ::chmod(binary.c_str(), 0755);
  }
  testkit::writeFile(bundle / "Contents" / "Resources" / "strings.txt",
                     "Hello from " + name + "\n");
  // Folders as an installer leaves them, whatever the umask: only the owner writes.
  fs::permissions(bundle, fs::perms(0755));
  for (const auto& entry : fs::recursive_directory_iterator(bundle)) {
    if (entry.is_directory()) fs::permissions(entry.path(), fs::perms(0755));
  }
  return bundle;
}

void codesign(const fs::path& bundle, const Signer& signer,
              const std::optional<std::string>& identifier) {
  std::vector<std::string> argv{VELTRA_CODESIGN_PATH, "--key", signer.key.string(), "--cert",
                                signer.cert.string()};
  if (!signer.chain.empty()) argv.insert(argv.end(), {"--chain", signer.chain.string()});
  if (identifier) argv.insert(argv.end(), {"--identifier", *identifier});
  argv.push_back(bundle.string());
  if (testkit::run(argv).status != 0) {
    throw std::runtime_error("veltra-codesign failed for " + bundle.string());
  }
}

void codesignWithOpensslCli(const fs::path& bundle, const Signer& signer,
                            const std::string& digest) {
  const auto info = readBundleInfo(bundle);
  const fs::path folder = bundle / "Contents" / "_CodeSignature";
  fs::create_directories(folder);
  testkit::writeFile(folder / "CodeResources.json",
                     BundleManifest::build(bundle, info.value().identifier.value()).encoded());
  std::vector<std::string> argv{"cms",
                                "-sign",
                                "-binary",
                                "-md",
                                digest,
                                "-outform",
                                "DER",
                                "-in",
                                (folder / "CodeResources.json").string(),
                                "-signer",
                                signer.cert.string(),
                                "-inkey",
                                signer.key.string()};
  if (!signer.chain.empty()) argv.insert(argv.end(), {"-certfile", signer.chain.string()});
  argv.insert(argv.end(), {"-out", (folder / "CodeResources.p7s").string()});
  openssl(argv);
}

}  // namespace veltra::test
