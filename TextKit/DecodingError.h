// The error of a decoder whose bytes are not the record it expects: not JSON, not an object, a
// required key missing, a value of the wrong type. what() says which, for logs and tests; it is
// never shown to a user as it is (the command layers report it with their generic message).
#pragma once

#include <stdexcept>

namespace textkit {

class DecodingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace textkit
