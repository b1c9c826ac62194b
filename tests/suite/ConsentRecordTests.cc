#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

#include "VeltraSuiteSetup/VeltraSuiteConsent.h"

namespace veltra {
namespace {

using Json = nlohmann::json;

TEST(ConsentRecord, DefaultRecordEncodesFourKeys) {
  const Json encoded = Json::parse(VeltraSuiteConsent().encoded());
  EXPECT_EQ(encoded, Json::parse(R"({"version":1,"enabled":false,"teamId":"K4TQ7WMX2P",
                                     "blockedPairs":[]})"));
  EXPECT_TRUE(encoded["version"].is_number_integer());
}

TEST(ConsentRecord, FullRecordRoundTrips) {
  VeltraSuiteConsent record;
  record.enabled = true;
  record.approvedPairs = std::vector<std::string>{"a|b", "a|b"};
  record.pairOnly = false;
  record.removedPairs = std::vector<std::string>{};
  record.approvedAt = 1733700000123.4567;
  record.blockedPairs = {"c|d"};
  record.declinedSet = "a|b|c";
  const std::string bytes = record.encoded();
  EXPECT_EQ(bytes.find_first_of(" \n"), std::string::npos);
  EXPECT_EQ(VeltraSuiteConsent::decoded(bytes), record);
}

TEST(ConsentRecord, ApprovedAtReadsBackAsTheSameDouble) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> times(0.0, 4.0e12);
  for (int i = 0; i < 1000; ++i) {
    VeltraSuiteConsent record;
    record.approvedAt = times(random);
    EXPECT_EQ(VeltraSuiteConsent::decoded(record.encoded()).approvedAt, record.approvedAt);
  }
}

TEST(ConsentRecord, NullOptionalsAndUnknownKeysAreDropped) {
  const auto record = VeltraSuiteConsent::decoded(
      R"({"version":1.0,"enabled":true,"approvedPairs":null,"pairOnly":null,"removedPairs":null,
          "teamId":"K4TQ7WMX2P","approvedAt":null,"blockedPairs":[],"declinedSet":null,
          "futureKey":{"x":1}})");
  EXPECT_EQ(record.version, 1);
  EXPECT_FALSE(record.approvedPairs || record.pairOnly || record.removedPairs ||
               record.approvedAt || record.declinedSet);
  const Json encoded = Json::parse(record.encoded());
  EXPECT_EQ(encoded.size(), 4u);
  EXPECT_FALSE(encoded.contains("futureKey"));
}

TEST(ConsentRecord, EqualityTellsAbsentFromEmpty) {
  VeltraSuiteConsent absent;
  VeltraSuiteConsent empty;
  empty.approvedPairs = std::vector<std::string>{};
  EXPECT_NE(absent, empty);
  VeltraSuiteConsent reordered;
  reordered.blockedPairs = {"b", "a"};
  VeltraSuiteConsent ordered;
  ordered.blockedPairs = {"a", "b"};
  EXPECT_NE(reordered, ordered);
}

struct BadFile {
  const char* name;
  const char* json;
};
void PrintTo(const BadFile& c, std::ostream* out) { *out << c.name; }

class ConsentDecodingFailure : public testing::TestWithParam<BadFile> {};

TEST_P(ConsentDecodingFailure, Throws) {
  EXPECT_THROW(VeltraSuiteConsent::decoded(GetParam().json), DecodingError);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConsentDecodingFailure,
    testing::Values(
        BadFile{"Empty", ""}, BadFile{"EmptyObject", "{}"}, BadFile{"Array", "[]"},
        BadFile{"Truncated", R"({"version":1,"enabled":false,)"},
        BadFile{"NoBlockedPairs", R"({"version":1,"enabled":false,"teamId":"K4TQ7WMX2P"})"},
        BadFile{"NullBlockedPairs",
                R"({"version":1,"enabled":false,"teamId":"K4TQ7WMX2P","blockedPairs":null})"},
        BadFile{"EnabledAsNumber",
                R"({"version":1,"enabled":1,"teamId":"K4TQ7WMX2P","blockedPairs":[]})"},
        BadFile{"VersionAsBoolean",
                R"({"version":true,"enabled":false,"teamId":"K4TQ7WMX2P","blockedPairs":[]})"},
        BadFile{"VersionFraction",
                R"({"version":1.5,"enabled":false,"teamId":"K4TQ7WMX2P","blockedPairs":[]})"},
        BadFile{
            "VersionTooLarge",
            R"({"version":9223372036854775808,"enabled":false,"teamId":"K4TQ7WMX2P","blockedPairs":[]})"},
        BadFile{"NumberInPairList",
                R"({"version":1,"enabled":false,"teamId":"K4TQ7WMX2P","blockedPairs":["a|b",3]})"},
        BadFile{"TeamAsNumber", R"({"version":1,"enabled":false,"teamId":7,"blockedPairs":[]})"},
        BadFile{
            "PairOnlyAsString",
            R"({"version":1,"enabled":false,"pairOnly":"yes","teamId":"K4TQ7WMX2P","blockedPairs":[]})"},
        BadFile{
            "ApprovedAtAsString",
            R"({"version":1,"enabled":false,"approvedAt":"now","teamId":"K4TQ7WMX2P","blockedPairs":[]})"},
        BadFile{
            "ApprovedAtOverflow",
            R"({"version":1,"enabled":false,"approvedAt":1e999,"teamId":"K4TQ7WMX2P","blockedPairs":[]})"},
        BadFile{"InvalidUtf8",
                "{\"version\":1,\"enabled\":false,\"teamId\":\"K4\xff\","
                "\"blockedPairs\":[]}"}),
    [](const testing::TestParamInfo<BadFile>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace veltra
