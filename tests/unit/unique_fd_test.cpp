#include "core/platform/posix/unique_fd.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <utility>

namespace qev::posix {
namespace {

bool IsOpen(int fd)
{
    return fcntl(fd, F_GETFD) != -1;
}

// Two fresh descriptors: the ends of a pipe.
std::pair<int, int> TwoDescriptors()
{
    int ends[2] = {-1, -1};
    EXPECT_EQ(pipe(ends), 0);
    return {ends[0], ends[1]};
}

// Every way a descriptor changes owner closes it exactly once: the one given up by a move
// stays open with its new owner, the one overwritten by an assignment or a reset closes.
TEST(UniqueFd, ClosesEachDescriptorOnceWhateverTheOwnerDoes)
{
    const auto [a, b] = TwoDescriptors();
    {
        UniqueFd first(a);
        UniqueFd moved(std::move(first));
        EXPECT_EQ(first.get(), -1); // NOLINT(bugprone-use-after-move): the moved-from state
        EXPECT_EQ(moved.get(), a);
        UniqueFd second(b);
        second = std::move(moved); // b goes, a moves on
        EXPECT_FALSE(IsOpen(b));
        EXPECT_TRUE(IsOpen(a));
        auto& self = second;
        second = std::move(self);
        EXPECT_EQ(second.get(), a);
        EXPECT_TRUE(IsOpen(a));
    }
    EXPECT_FALSE(IsOpen(a));

    const auto [c, d] = TwoDescriptors();
    UniqueFd held(c);
    held.reset(d);
    EXPECT_FALSE(IsOpen(c));
    const int released = held.release();
    EXPECT_EQ(released, d);
    EXPECT_FALSE(held);
    held.reset();
    EXPECT_TRUE(IsOpen(d));
    UniqueFd(released).reset();
    EXPECT_FALSE(IsOpen(d));
}

} // namespace
} // namespace qev::posix
