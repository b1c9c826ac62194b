// The C interface of the helper's network module ("pellow-net.so").
//
// git starts the helper on every fetch and push, and most runs never touch the network: they must
// not pay for loading libcurl (and its LDAP, GSSAPI, SSH chain) or ICU. Everything that needs
// those libraries lives in this module, which NetModule.h loads with dlopen the first time a run
// needs it. The boundary is plain C so that the module and the helper may each carry their own
// copy of the C++ runtime: no C++ object, exception or allocation crosses it. Data leaves the
// module only through the caller's callbacks, which must not throw.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PELLOW_NET_ABI_VERSION 2
#define PELLOW_NET_ENTRY_SYMBOL "pellow_net_module_v1"

typedef struct PellowNetString {
  const char* data;
  size_t size;
} PellowNetString;

typedef struct PellowNetHeader {
  PellowNetString name;
  PellowNetString value;
} PellowNetHeader;

typedef struct PellowNetRequest {
  PellowNetString method;
  PellowNetString url;  // size 0: no URL
  const PellowNetHeader* headers;
  size_t header_count;
  PellowNetString body;  // sent as is when method is not GET
  long timeout_ms;       // the request's own limit; the transport's limits still apply
} PellowNetRequest;

// Receives the response. Called on the sending thread, before send() returns.
typedef struct PellowNetResponseSink {
  void* context;
  void (*status)(void* context, long status_code);
  void (*url)(void* context, PellowNetString final_url);
  void (*header)(void* context, PellowNetString name, PellowNetString value);
  void (*body)(void* context, PellowNetString chunk);
} PellowNetResponseSink;

typedef enum PellowNetResult {
  PELLOW_NET_OK = 0,
  PELLOW_NET_INVALID_ADDRESS = 1,   // "Invalid GitHub address."
  PELLOW_NET_UNREACHABLE = 2,       // "Could not reach GitHub. ..."
  PELLOW_NET_INVALID_RESPONSE = 3,  // "GitHub returned an invalid response. Try again."
} PellowNetResult;

// The pieces of a URL as libcurl's URL API reads them. Absent parts have data == NULL.
typedef struct PellowNetURLParts {
  PellowNetString scheme;  // lower case
  PellowNetString user;
  PellowNetString password;
  PellowNetString host;
  PellowNetString port;  // only when written explicitly
  PellowNetString path;  // always present, maybe empty; as written (not decoded)
  PellowNetString query;
  PellowNetString fragment;
} PellowNetURLParts;

typedef struct PellowNetModule {
  int abi_version;  // PELLOW_NET_ABI_VERSION

  // --- HTTPS transport (libcurl). The allowed hosts are the configured GitHub web and API
  // hosts, given at creation. In test-seam builds the module also honours `test_connect_to`
  // (libcurl connect-to entries, comma-separated) and `test_cainfo` (a CA bundle trusted instead
  // of the system's), which the library takes from its session; empty: none.
  void* (*transport_create)(PellowNetString web_host, PellowNetString api_host,
                            PellowNetString test_connect_to, PellowNetString test_cainfo);
  void (*transport_destroy)(void* transport);
  PellowNetResult (*transport_send)(void* transport, const PellowNetRequest* request,
                                    const PellowNetResponseSink* sink);

  // --- URL parsing (libcurl's URL API). Returns 0 and calls `parts_out` once with the parts
  // (valid only during the call) when `text` parses as an absolute URL; non-zero otherwise.
  int (*parse_url)(PellowNetString text, void* context,
                   void (*parts_out)(void* context, const PellowNetURLParts* parts));

  // --- Unicode and locale (ICU).
  // Whether the code point is in a general category L*, M* or N*.
  int (*is_alphanumeric)(uint32_t code_point);
  // The number of user-perceived characters (extended grapheme clusters) of UTF-8 text;
  // SIZE_MAX when ICU cannot count it.
  size_t (*grapheme_count)(PellowNetString utf8);
  // Formats a time of day in the short time style of the default locale and time zone.
  // Writes at most `capacity` bytes of UTF-8 (no terminator) and returns the full length;
  // SIZE_MAX when ICU cannot format it.
  size_t (*format_short_time)(double seconds_since_1970, char* out, size_t capacity);
} PellowNetModule;

// The module's one exported symbol (PELLOW_NET_ENTRY_SYMBOL).
typedef const PellowNetModule* (*PellowNetEntry)(void);

#ifdef __cplusplus
}
#endif
