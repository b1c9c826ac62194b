// The trust anchor of the code-signature fuzz target: a test root made for fuzzing only. The
// seed signatures in corpus/code_signature/ chain to it (directly or through an intermediate
// they carry) from a code-signing certificate with the organisational unit kTeam.
#pragma once

#include <string_view>

namespace veltra::fuzz {

inline constexpr std::string_view kTeam = "K4TQ7WMX2P";

inline constexpr std::string_view kTrustAnchor = R"(-----BEGIN CERTIFICATE-----
MIIB2zCCAYGgAwIBAgIUPn6lESutJThp+b2g1hZgwV8ZN9MwCgYIKoZIzj0EAwIw
OjEXMBUGA1UECgwOVmVsdHJhIEZ1enppbmcxHzAdBgNVBAMMFlZlbHRyYSBGdXp6
aW5nIFJvb3QgQ0EwIBcNMjYxMjA5MDYxMjM3WhgPMjEyNjExMTUwNjEyMzdaMDox
FzAVBgNVBAoMDlZlbHRyYSBGdXp6aW5nMR8wHQYDVQQDDBZWZWx0cmEgRnV6emlu
ZyBSb290IENBMFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEQgXw8sREi96MMR4k
8XJOJ7IrbkqV/iPpCPZ/mW4FsBGHOWWRYlKSjUYVLJTQgxwaX0HHDE9rvL/esEJ+
BxmzBqNjMGEwHQYDVR0OBBYEFFCYwlQIdBgg+6+5uFFmrnXs2VgMMB8GA1UdIwQY
MBaAFFCYwlQIdBgg+6+5uFFmrnXs2VgMMA8GA1UdEwEB/wQFMAMBAf8wDgYDVR0P
AQH/BAQDAgEGMAoGCCqGSM49BAMCA0gAMEUCIQDoOHBJG7RzUKVT8t53r/NsHzf0
AeP77KKeobRTb02Y7QIgGksjkzYVLdXolBmjejCzrT5CEsRLCpJCID30zWHeLdk=
-----END CERTIFICATE-----)";

}  // namespace veltra::fuzz
