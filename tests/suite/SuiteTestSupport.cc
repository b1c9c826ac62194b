#include "tests/suite/SuiteTestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

#include "VeltraSuiteSetup/Catalogue.h"
#include "VeltraSuiteSetup/bundle/BundleManifest.h"

extern char** environ;

namespace veltra::test {
namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = "/tmp/veltra-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests change modes and owners; make everything removable again first.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) ::chmod(it->path().c_str(), 0700);
  }
  fs::remove_all(path_, ignored);
}

int run(const std::vector<std::string>& argv, std::string* output) {
  int pipeFds[2] = {-1, -1};
  if (::pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (output != nullptr) {
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    throw std::runtime_error("cannot start " + argv[0]);
  }
  std::string collected;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    collected.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (output != nullptr) *output = collected;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void writeFile(const fs::path& path, const std::string& bytes, unsigned mode) {
  fs::create_directories(path.parent_path());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path.string());
  }
  ::chmod(path.c_str(), mode);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool haveDevelopmentAnchor() { return std::string_view(VELTRA_TEST_ANCHOR_KEY).size() > 0; }

namespace {

void openssl(const std::vector<std::string>& args) {
  std::vector<std::string> argv{VELTRA_TEST_OPENSSL};
  argv.insert(argv.end(), args.begin(), args.end());
  if (run(argv) != 0) throw std::runtime_error("openssl " + args.front() + " failed");
}

void makeKey(const fs::path& key) {
  openssl({"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-out",
           key.string()});
}

// Issues a certificate for `subject` signed by `caCert`/`caKey` with the extensions in `ext`.
void issue(const fs::path& dir, const std::string& name, const std::string& subject,
           const fs::path& caCert, const fs::path& caKey, const std::string& ext) {
  const fs::path key = dir / (name + ".key");
  makeKey(key);
  const fs::path csr = dir / (name + ".csr");
  openssl({"req", "-new", "-key", key.string(), "-subj", subject, "-out", csr.string()});
  writeFile(dir / (name + ".ext"), ext);
  // A random serial: "-CAcreateserial" would write a serial file beside the shared anchor,
  // which test processes running side by side would race on.
  static std::mt19937_64 random(std::random_device{}());
  const std::string serial = std::to_string(random() >> 2);
  openssl({"x509", "-req", "-in", csr.string(), "-CA", caCert.string(), "-CAkey", caKey.string(),
           "-set_serial", serial, "-days", "30", "-sha256", "-extfile",
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
  static TempDir folder;  // lives for the whole test process
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

  const fs::path rogueKey = dir / "rogue-root.key";
  makeKey(rogueKey);
  writeFile(dir / "rogue-root.ext", kCaExt);
  openssl({"req", "-x509", "-key", rogueKey.string(), "-subj", "/O=Pemberhollo/CN=Rogue Root",
           "-days", "30", "-sha256", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
           "keyUsage=critical,keyCertSign,cRLSign", "-out", (dir / "rogue-root.pem").string()});
  issue(dir, "rogue", "/O=Pemberhollo/OU=K4TQ7WMX2P/CN=Veltra Suite Signing",
        dir / "rogue-root.pem", rogueKey, kCodeSigningExt);

  auto signer = [&](const std::string& name, const fs::path& chain) {
    return Signer{dir / (name + ".key"), dir / (name + ".pem"), chain};
  };
  return Pki{signer("suite", intermediateCert), signer("other", intermediateCert),
             signer("email", intermediateCert), signer("rogue", dir / "rogue-root.pem")};
}

}  // namespace

const Pki& pki() {
  static const Pki instance = makePki();
  return instance;
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

std::string appName(const std::string& bundleId) {
  const auto it = veltra::VeltraSuiteSetup::names().find(bundleId);
  return it == veltra::VeltraSuiteSetup::names().end() ? "Other" : it->second;
}

fs::path makeBundle(const fs::path& folder, const std::string& name, const std::string& bundleId,
                    const fs::path& executableSource) {
  const fs::path bundle = folder / (name + ".app");
  const std::string executable = name;
  writeFile(bundle / "Contents" / "Info.json", "{\"CFBundleIdentifier\":\"" + bundleId +
                                                   "\",\"CFBundleExecutable\":\"" + executable +
                                                   "\"}");
  const fs::path binary = bundle / "Contents" / "MacOS" / executable;
  if (executableSource.empty()) {
    writeFile(binary, "#!/bin/sh\nexit 0\n", 0755);
  } else {
    fs::create_directories(binary.parent_path());
    fs::copy_file(executableSource, binary, fs::copy_options::overwrite_existing);
    ::chmod(binary.c_str(), 0755);
  }
  writeFile(bundle / "Contents" / "Resources" / "strings.txt", "Hello from " + name + "\n");
  return bundle;
}

void codesign(const fs::path& bundle, const Signer& signer,
              const std::optional<std::string>& identifier) {
  std::vector<std::string> argv{VELTRA_CODESIGN_PATH, "--key", signer.key.string(), "--cert",
                                signer.cert.string()};
  if (!signer.chain.empty()) argv.insert(argv.end(), {"--chain", signer.chain.string()});
  if (identifier) argv.insert(argv.end(), {"--identifier", *identifier});
  argv.push_back(bundle.string());
  if (run(argv) != 0) throw std::runtime_error("veltra-codesign failed for " + bundle.string());
}

void codesignWithOpensslCli(const fs::path& bundle, const Signer& signer) {
  const auto info = readBundleInfo(bundle);
  const fs::path folder = bundle / "Contents" / "_CodeSignature";
  fs::create_directories(folder);
  writeFile(folder / "CodeResources.json",
            BundleManifest::build(bundle, info.value().identifier.value()).encoded());
  std::vector<std::string> argv{"cms",
                                "-sign",
                                "-binary",
                                "-md",
                                "sha256",
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
