// Owning file descriptor and advisory lock holders.
//
//   veltra::UniqueFd fd(::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
//   if (!fd) ...;                       // open failed, errno as left by open
//   veltra::FlockHolder lock(fd.get()); // after a successful flock(LOCK_EX): unlocks when it goes
//
// Not thread-safe per object; move-only.
#pragma once

#include <sys/file.h>
#include <unistd.h>

#include <utility>

namespace veltra {

class UniqueFd {
 public:
  UniqueFd() noexcept = default;
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
  void reset(int fd = -1) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Releases an flock taken by the caller on a descriptor that outlives this object.
class FlockHolder {
 public:
  explicit FlockHolder(int fd) noexcept : fd_(fd) {}
  FlockHolder(const FlockHolder&) = delete;
  FlockHolder& operator=(const FlockHolder&) = delete;
  ~FlockHolder() {
    if (fd_ >= 0) ::flock(fd_, LOCK_UN);
  }

 private:
  int fd_;
};

}  // namespace veltra
