// UniqueFd owns a file descriptor; FlockHolder releases an flock(2) lock held on one.
//
//   privatefiles::UniqueFd fd(::open(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC));
//   if (!fd) return errno;                        // open failed, errno as open left it
//   if (::flock(fd.get(), LOCK_EX) != 0) ...;
//   privatefiles::FlockHolder unlock(fd.get());   // declared after fd: unlocks, then fd closes
//
// UniqueFd closes its descriptor when it goes away, when reset, or when a new one is moved into
// it; release() gives ownership up without closing. closeChecked() closes at once and reports
// close's own failure (a late write error of some file systems surfaces only there).
// FlockHolder does not own the descriptor: the descriptor must stay open for as long as the
// holder lives, so declare the holder after the UniqueFd it refers to.
// Both are move-only and not thread-safe per object; distinct objects are independent.
#pragma once

#include <sys/file.h>
#include <unistd.h>

#include <utility>

namespace privatefiles {

class UniqueFd {
 public:
  UniqueFd() noexcept = default;
  // Takes ownership of `fd`; a negative value (a failed open) makes an empty object.
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }
  // Gives up ownership without closing.
  int release() noexcept { return std::exchange(fd_, -1); }
  // Closes the descriptor held (its close result is not looked at) and takes `fd` instead.
  void reset(int fd = -1) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now; false (errno from close) when close failed or nothing was held.
  bool closeChecked() noexcept { return ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_ = -1;
};

// Calls flock(fd, LOCK_UN) when it goes away, for a lock the caller took on `fd`.
class FlockHolder {
 public:
  explicit FlockHolder(int fd) noexcept : fd_(fd) {}
  FlockHolder(FlockHolder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FlockHolder& operator=(FlockHolder&&) = delete;
  FlockHolder(const FlockHolder&) = delete;
  FlockHolder& operator=(const FlockHolder&) = delete;
  ~FlockHolder() {
    if (fd_ >= 0) ::flock(fd_, LOCK_UN);
  }

 private:
  int fd_;
};

}  // namespace privatefiles
