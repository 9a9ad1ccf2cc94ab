#pragma once
// A descriptor this process owns: closed when its owner goes, handed on by moving, never
// copied, so no descriptor is closed twice or left open on an early return.
#include <unistd.h>

#include <utility>

namespace qev::posix {

class UniqueFd {
public:
    UniqueFd() = default;
    // Takes fd over (a negative one: none).
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    // The descriptor, -1 when none; it stays owned here.
    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // Gives the descriptor up without closing it; none is held afterwards.
    int release() noexcept { return std::exchange(fd_, -1); }
    // Closes the one held, if any, and takes fd over.
    void reset(int fd = -1) noexcept
    {
        if (const int old = std::exchange(fd_, fd); old >= 0) ::close(old);
    }

private:
    int fd_ = -1;
};

} // namespace qev::posix
