// Writing a whole buffer to a descriptor.
//
//   if (std::error_code error = privatefiles::writeAll(fd.get(), bytes)) fail(error);
//
// write(2) may write less than it was given (pipes, signals, a full disk); writeAll repeats it
// for the rest and retries after EINTR.
#pragma once

#include <string_view>
#include <system_error>

namespace privatefiles {

// Writes all of `bytes` to `fd`. Returns an empty error_code when everything was written, else
// the error of the write that failed (a write that wrote nothing counts as EIO); how much was
// written then is unknown. Blocks as write does.
std::error_code writeAll(int fd, std::string_view bytes) noexcept;

}  // namespace privatefiles
