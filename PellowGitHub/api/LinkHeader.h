// GitHub's pagination links: whether an answer's "Link" header points at a next page.
//
//   if (hasNextPageLink(result.response)) hasMore = true;
//
// GitHub names further pages of a listing in the "Link" header (RFC 8288) and leaves the header
// out when everything fit on one page. A page may hold fewer entries than asked for and still
// have a successor, so the link, not the count, is what says that more exist. Only the relation
// is read; the caller asks for the next page by number, never by the linked URL.
#pragma once

#include <string_view>

#include "PellowGitHub/GitHubTransport.h"

namespace pellow {

// Whether the Link header value `value` has an entry whose "rel" parameter holds the relation
// "next". Entries are separated by commas outside "<...>" and quoted strings; each is
// "<URI>" followed by ";"-separated parameters. The parameter name "rel" and the relation type
// are compared without regard to ASCII case; the value may be quoted (with backslash escapes)
// or a bare token, and may list several relations separated by white space; only the first
// "rel" of an entry counts. A malformed entry yields nothing and the entries after it are still
// read. Never throws.
bool linkValueHasNext(std::string_view value);

// Whether any "Link" header of `response` (the name in any letter case; a response may repeat
// the header) has a "next" relation as above.
bool hasNextPageLink(const HTTPResponse& response);

}  // namespace pellow
