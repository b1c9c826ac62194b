// Every suite reader takes exactly one JSON value: a NUL byte or anything after the value refuses
// the text, in the consent file, the installed-app form, Info.json and the bundle manifest.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "PrivateFiles/UniqueFd.h"
#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "VeltraSuiteSetup/bundle/BundleManifest.h"
#include "VeltraSuiteSetup/bundle/ManifestReader.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

using privatefiles::UniqueFd;

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kDigest(64, 'a');
const std::string kManifest =
    R"({"files":{"Contents/Info.json":")" + kDigest + R"("},"identifier":"com.pemberhollo.sorel"})";

// Reads `text` from a file, as the signature check reads the manifest.
std::optional<ManifestIndex> indexOf(const std::string& text) {
  testkit::TemporaryFolder dir;
  testkit::writeFile(dir / "manifest", text);
  const UniqueFd fd(::open((dir / "manifest").c_str(), O_RDONLY | O_CLOEXEC));
  return ManifestIndex::read(fd.get(), text.size());
}

struct Reader {
  const char* name;
  std::string valid;
  std::function<bool(const std::string&)> accepts;
};

void PrintTo(const Reader& reader, std::ostream* out) { *out << reader.name; }

// A reader that refuses a text by throwing DecodingError.
std::function<bool(const std::string&)> decodes(std::function<void(const std::string&)> read) {
  return [read = std::move(read)](const std::string& text) {
    try {
      read(text);
      return true;
    } catch (const DecodingError&) {
      return false;
    }
  };
}

std::vector<Reader> readers() {
  return {
      {"ConsentRecord", VeltraSuiteConsent().encoded(),
       decodes([](const std::string& text) { VeltraSuiteConsent::decoded(text); })},
      {"ConsentFile", VeltraSuiteConsent().encoded(), decodes([](const std::string& text) {
         testkit::TemporaryFolder dir;
         ::chmod(dir.path().c_str(), 0700);
         fs::create_directory(dir / ".suite-setup");
         ::chmod((dir / ".suite-setup").c_str(), 0700);
         testkit::writeFile(dir / ".suite-setup/consent-v1.json", text, 0600);
         VeltraSuiteSetup::read(dir.path());
       })},
      {"InstalledApp", R"({"bundleId":"a","name":"b","path":"c"})",
       decodes([](const std::string& text) { VeltraInstalledApp::decoded(text); })},
      {"InfoJson", R"({"CFBundleIdentifier":"com.pemberhollo.sorel","CFBundleExecutable":"S"})",
       [](const std::string& text) { return parseBundleInfo(text).has_value(); }},
      {"ManifestText", kManifest,
       [](const std::string& text) { return BundleManifest::decoded(text).has_value(); }},
      {"ManifestFile", kManifest,
       [](const std::string& text) { return indexOf(text).has_value(); }},
  };
}

struct Tail {
  const char* name;
  std::string bytes;  // appended to the valid text
  bool accepted;
};

class EveryReader : public testing::TestWithParam<Reader> {};

TEST_P(EveryReader, TakesOneValueAndNothingAfterIt) {
  const std::vector<Tail> tails{
      {"Nothing", "", true},
      {"WhiteSpace", " \n\t\r", true},
      {"NulThenGarbage", "\0garbage"s, false},
      {"NulAlone", "\0"s, false},
      {"NulThenWhiteSpace", "\0 "s, false},
      {"SecondValue", "{}", false},
      {"Garbage", "x", false},
  };
  for (const Tail& tail : tails) {
    EXPECT_EQ(GetParam().accepts(GetParam().valid + tail.bytes), tail.accepted) << tail.name;
  }
  // A NUL inside the value, where the reader would stop early, too.
  EXPECT_FALSE(GetParam().accepts("\0"s + GetParam().valid));
}

INSTANTIATE_TEST_SUITE_P(Readers, EveryReader, testing::ValuesIn(readers()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(ManifestFileReader, NulBeyondTheFirstPieceIsFound) {
  // The file is read in pieces of 64 KiB: a NUL far behind a complete value is still seen.
  EXPECT_FALSE(indexOf(kManifest + std::string(100000, ' ') + "\0x"s));
  EXPECT_TRUE(indexOf(kManifest + std::string(100000, ' ')));
}

struct ManifestCase {
  const char* name;
  std::string text;
  bool valid;
};
void PrintTo(const ManifestCase& c, std::ostream* out) { *out << c.name; }

std::string files(const std::string& entries) {
  return R"({"identifier":"com.pemberhollo.sorel","files":{)" + entries + "}}";
}
std::string entry(const std::string& path, const std::string& digest = kDigest) {
  return "\"" + path + "\":\"" + digest + "\"";
}

class ManifestRules : public testing::TestWithParam<ManifestCase> {};

TEST_P(ManifestRules, DecodedAndIndexedAlike) {
  EXPECT_EQ(BundleManifest::decoded(GetParam().text).has_value(), GetParam().valid);
  EXPECT_EQ(indexOf(GetParam().text).has_value(), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ManifestRules,
    testing::Values(
        ManifestCase{"Plain", files(entry("Contents/Info.json") + "," + entry("a/b/c")), true},
        ManifestCase{"NoFiles", files(""), true},
        ManifestCase{"UnknownKeysOfAnyKind",
                     R"({"x":{"files":[1,{"y":null}]},"identifier":"i","files":{},"z":2.5})", true},
        ManifestCase{"DotDot", files(entry("Contents/../x")), false},
        ManifestCase{"Dot", files(entry("./Contents/x")), false},
        ManifestCase{"EmptyComponent", files(entry("Contents//x")), false},
        ManifestCase{"TrailingSlash", files(entry("Contents/")), false},
        ManifestCase{"Absolute", files(entry("/etc/passwd")), false},
        ManifestCase{"EscapedNul", files(entry("a\\u0000b")), false},
        ManifestCase{"ListsTheSignature", files(entry("Contents/_CodeSignature/CodeResources.p7s")),
                     false},
        ManifestCase{"PathTwice", files(entry("a") + "," + entry("a", std::string(64, 'b'))),
                     false},
        ManifestCase{"UpperCaseDigest", files(entry("a", std::string(64, 'A'))), false},
        ManifestCase{"ShortDigest", files(entry("a", std::string(63, 'a'))), false},
        ManifestCase{"DigestNotAString", files("\"a\":1"), false},
        ManifestCase{"NestedInFiles", files("\"a\":{}"), false},
        ManifestCase{"IdentifierTwice", R"({"identifier":"a","identifier":"b","files":{}})", false},
        ManifestCase{"FilesTwice", R"({"identifier":"a","files":{},"files":{}})", false},
        ManifestCase{"IdentifierNotAString", R"({"identifier":1,"files":{}})", false},
        ManifestCase{"NoIdentifier", R"({"files":{}})", false},
        ManifestCase{"FilesNotAnObject", R"({"identifier":"a","files":[]})", false},
        ManifestCase{"ArrayAtTop", "[]", false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ManifestIndex, FindsEveryListedPathAndNothingElse) {
  std::string entries;
  for (int i = 999; i >= 0; --i) {  // out of order on purpose
    if (!entries.empty()) entries += ",";
    entries += entry("d/f" + std::to_string(i), toHex(Digest{static_cast<unsigned char>(i)}));
  }
  const auto index = indexOf(files(entries));
  ASSERT_TRUE(index);
  EXPECT_EQ(index->identifier(), "com.pemberhollo.sorel");
  EXPECT_EQ(index->size(), 1000u);
  for (int i = 0; i < 1000; ++i) {
    const Digest* digest = index->find("d/f" + std::to_string(i));
    ASSERT_NE(digest, nullptr) << i;
    EXPECT_EQ((*digest)[0], static_cast<unsigned char>(i));
  }
  EXPECT_EQ(index->find("d/f1000"), nullptr);
  EXPECT_EQ(index->find("d/f"), nullptr);
  EXPECT_EQ(index->find(""), nullptr);
}

}  // namespace
}  // namespace veltra
