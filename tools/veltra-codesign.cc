// veltra-codesign: seals an app bundle and signs the seal.
//
//   veltra-codesign --key leaf.key --cert leaf.pem [--chain chain.pem] [--anchor root.pem]
//                   [--identifier ID] Name.app
//
// Writes Contents/_CodeSignature/CodeResources.json (the identifier and the SHA-256 of every
// regular file) and CodeResources.p7s (a detached DER CMS signature of the manifest's bytes made
// with the key and certificate, carrying the certificate and the chain). The identifier defaults
// to the bundle's CFBundleIdentifier. Then checks the bundle as the suite will: against the
// anchor(s) of --anchor, or else against the chain it signed with (the leaf itself without one),
// for the team of the certificate's subject OU. Exit status 0 when the bundle verifies, 1 on
// failure (message on stderr), 2 for a wrong command line (usage on stderr); --help prints the
// usage on stdout and exits 0.
//
// The manifest and signature are written whole (privatefiles::replaceFile: an anonymous file, or
// a hidden temporary one); temporary files that an interrupted run left in
// Contents/_CodeSignature, and the "CodeResources.*.part" of earlier versions, are removed before
// the bundle is sealed, so they never end up in the seal.

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "PrivateFiles/AtomicFile.h"
#include "PrivateFiles/UniqueFd.h"
#include "VeltraSuiteSetup/bundle/BundleManifest.h"
#include "VeltraSuiteSetup/bundle/CodeSignature.h"
#include "VeltraSuiteSetup/bundle/OpenSslPtr.h"

namespace {

constexpr const char* kUsage =
    "usage: veltra-codesign --key KEY.pem --cert CERT.pem [--chain CHAIN.pem] "
    "[--anchor ANCHOR.pem] [--identifier ID] BUNDLE.app\n";

struct Options {
  std::string key;
  std::string cert;
  std::optional<std::string> chain;
  std::optional<std::string> anchor;
  std::optional<std::string> identifier;
  std::string bundle;
};

std::optional<Options> parse(const std::vector<std::string>& args) {
  Options options;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--key" && hasValue) {
      options.key = args[++i];
    } else if (arg == "--cert" && hasValue) {
      options.cert = args[++i];
    } else if (arg == "--chain" && hasValue) {
      options.chain = args[++i];
    } else if (arg == "--anchor" && hasValue) {
      options.anchor = args[++i];
    } else if (arg == "--identifier" && hasValue) {
      options.identifier = args[++i];
    } else if (arg.starts_with("--")) {
      return std::nullopt;
    } else {
      positional.push_back(arg);
    }
  }
  if (options.key.empty() || options.cert.empty() || positional.size() != 1) return std::nullopt;
  options.bundle = positional.front();
  return options;
}

[[noreturn]] void failWithOpenSsl(const std::string& what) {
  const unsigned long code = ERR_get_error();
  char detail[256] = "";
  if (code != 0) ERR_error_string_n(code, detail, sizeof detail);
  throw std::runtime_error(what + (code != 0 ? std::string(": ") + detail : std::string()));
}

veltra::BioPtr openFile(const std::string& path) {
  veltra::BioPtr bio(BIO_new_file(path.c_str(), "rb"));
  if (!bio) failWithOpenSsl("cannot read " + path);
  return bio;
}

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  // Replace atomically, so that a bundle is never left with half a manifest.
  const privatefiles::UniqueFd folder(
      ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const std::error_code error =
      folder ? privatefiles::replaceFile(folder.get(), path.filename().c_str(), bytes,
                                         privatefiles::hexTemporaryNames(), 0644)
             : std::error_code(errno, std::generic_category());
  if (error) throw std::runtime_error("cannot store " + path.string() + ": " + error.message());
}

std::string readText(const std::string& path) {
  std::string text;
  const veltra::BioPtr bio = openFile(path);
  char buffer[4096];
  int read = 0;
  while ((read = BIO_read(bio.get(), buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(read));
  }
  return text;
}

std::string pem(X509* certificate) {
  const veltra::BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1) failWithOpenSsl("out of memory");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

// Removes the temporary files an interrupted run may have left in the signature folder, before
// anything is sealed: the hidden ones of writeFile, and the "<file>.part" of earlier versions.
void removeLeftovers(const std::filesystem::path& signatureFolder) {
  const privatefiles::UniqueFd folder(
      ::open(signatureFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  std::error_code error =
      folder ? privatefiles::removeTemporaries(folder.get(), privatefiles::hexTemporaryNames())
             : std::error_code(errno, std::generic_category());
  for (const char* legacy : {"CodeResources.json.part", "CodeResources.p7s.part"}) {
    if (error) break;
    struct stat info {};
    if (::fstatat(folder.get(), legacy, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      error = std::make_error_code(std::errc::is_a_directory);
    } else if (::unlinkat(folder.get(), legacy, 0) != 0) {
      error = std::error_code(errno, std::generic_category());
    }
  }
  if (error) {
    throw std::runtime_error("cannot remove temporary files left in " + signatureFolder.string() +
                             ": " + error.message());
  }
}

// A missing bundle or a file in its place is named as such, before anything reads inside it.
void requireBundleFolder(const std::filesystem::path& bundle) {
  struct stat info {};
  if (::stat(bundle.c_str(), &info) != 0) {
    if (errno == ENOENT) throw std::runtime_error(bundle.string() + ": no such bundle");
    throw std::runtime_error(bundle.string() + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(info.st_mode)) {
    throw std::runtime_error(bundle.string() + ": not a bundle (a bundle is a folder)");
  }
}

void sign(const Options& options) {
  const std::filesystem::path bundle = options.bundle;
  requireBundleFolder(bundle);
  std::string identifier;
  if (options.identifier) {
    identifier = *options.identifier;
  } else {
    const auto info = veltra::readBundleInfo(bundle);
    if (!info || !info->identifier) {
      throw std::runtime_error(bundle.string() + ": no CFBundleIdentifier in Contents/Info.json");
    }
    identifier = *info->identifier;
  }

  const veltra::EvpPkeyPtr key(
      PEM_read_bio_PrivateKey(openFile(options.key).get(), nullptr, nullptr, nullptr));
  if (!key) failWithOpenSsl("cannot read the key " + options.key);
  const veltra::X509Ptr cert(
      PEM_read_bio_X509(openFile(options.cert).get(), nullptr, nullptr, nullptr));
  if (!cert) failWithOpenSsl("cannot read the certificate " + options.cert);
  veltra::X509StackPtr chain(sk_X509_new_null());
  if (options.chain) {
    const veltra::BioPtr bio = openFile(*options.chain);
    while (true) {
      veltra::X509Ptr next(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
      if (!next) break;
      if (sk_X509_push(chain.get(), next.get()) <= 0) failWithOpenSsl("out of memory");
      static_cast<void>(next.release());
    }
    ERR_clear_error();  // the end of the file reads as an error
    if (sk_X509_num(chain.get()) == 0)
      throw std::runtime_error("no certificate in " + *options.chain);
  }
  // The suite accepts only a code-signing certificate of one team: refuse to make a bundle it
  // would never accept.
  if (!veltra::hasCodeSigningUsage(cert.get())) {
    throw std::runtime_error(options.cert + " has no extended key usage codeSigning");
  }
  const auto team = veltra::singleOrganisationalUnit(cert.get());
  if (!team) throw std::runtime_error(options.cert + " names no single subject OU (the team)");

  const std::filesystem::path signatureFolder = bundle / "Contents" / "_CodeSignature";
  std::filesystem::create_directories(signatureFolder);
  removeLeftovers(signatureFolder);
  const std::string manifest = veltra::BundleManifest::build(bundle, identifier).encoded();

  const veltra::BioPtr content(BIO_new_mem_buf(manifest.data(), static_cast<int>(manifest.size())));
  const veltra::CmsPtr cms(
      CMS_sign(cert.get(), key.get(), chain.get(), content.get(), CMS_BINARY | CMS_DETACHED));
  if (!cms) failWithOpenSsl("cannot sign the manifest");
  const veltra::BioPtr der(BIO_new(BIO_s_mem()));
  if (!der || i2d_CMS_bio(der.get(), cms.get()) != 1)
    failWithOpenSsl("cannot encode the signature");
  char* data = nullptr;
  const long length = BIO_get_mem_data(der.get(), &data);

  writeFile(bundle / veltra::kManifestPath, manifest);
  writeFile(bundle / veltra::kSignaturePath,
            std::string_view(data, static_cast<std::size_t>(length)));

  // The check the suite makes, so that success means a bundle that verifies.
  std::string anchors;
  veltra::AnchorUse use = veltra::AnchorUse::selfSignedRoots;
  if (options.anchor) {
    anchors = readText(*options.anchor);
  } else {
    use = veltra::AnchorUse::anyCertificate;
    for (int i = 0; i < sk_X509_num(chain.get()); ++i)
      anchors += pem(sk_X509_value(chain.get(), i));
    if (anchors.empty()) anchors = pem(cert.get());
  }
  const std::string against = options.anchor ? *options.anchor : std::string("its signing chain");
  std::optional<veltra::SignatureVerifier> verifier;
  try {
    verifier.emplace(anchors, use);
  } catch (const std::runtime_error&) {
    throw std::runtime_error("no certificate in " + against);
  }
  if (!verifier->verify(bundle, identifier, *team)) {
    throw std::runtime_error(bundle.string() + " was signed but does not verify against " +
                             against);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args.front() == "--help" || args.front() == "-h")) {
    std::cout << kUsage;
    return std::cout.flush() ? 0 : 1;
  }
  const auto options = parse(args);
  if (!options) {
    std::cerr << kUsage;
    return 2;
  }
  try {
    sign(*options);
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "veltra-codesign: " << error.what() << "\n";
    return 1;
  }
}
