#include "PellowGitHub/support/URLParts.h"

#include <exception>

#include "PellowGitHub/net/NetModule.h"

namespace pellow {
namespace {

std::optional<std::string> owned(PellowNetString s) {
  if (s.data == nullptr) return std::nullopt;
  return std::string(s.data, s.size);
}

struct Collector {
  std::optional<URLParts> parts;
  std::exception_ptr error;  // nothing may be thrown back through the module
};

void collect(void* context, const PellowNetURLParts* parts) {
  auto& collector = *static_cast<Collector*>(context);
  try {
    collector.parts = URLParts{
        .scheme = owned(parts->scheme),
        .user = owned(parts->user),
        .password = owned(parts->password),
        .host = owned(parts->host),
        .port = owned(parts->port),
        .path = owned(parts->path),
        .query = owned(parts->query),
        .fragment = owned(parts->fragment),
    };
  } catch (...) {
    collector.error = std::current_exception();
  }
}

}  // namespace

std::optional<URLParts> parseURLParts(std::string_view text) {
  const PellowNetModule& module = netModule();
  Collector collector;
  const int status =
      module.parse_url(PellowNetString{text.data(), text.size()}, &collector, collect);
  if (collector.error) std::rethrow_exception(collector.error);
  if (status != 0) return std::nullopt;
  return std::move(collector.parts);
}

}  // namespace pellow
