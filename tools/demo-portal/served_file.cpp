#include "served_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qev::portal {
namespace {

// Keeps fd when it is a regular file, made blocking again for plain reads; else closes it.
int KeepRegular(int fd)
{
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

bool RequestHeadWithinLimits(std::size_t headerCount, std::size_t headerBytes)
{
    return headerCount <= MaxRequestHeaders && headerBytes <= MaxRequestHeaderBytes;
}

int OpenFileInFolder(const std::string& folder, const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return -1;
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return -1;
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    ::close(dir);
    return KeepRegular(fd);
}

int OpenRegularFile(const std::string& path)
{
    return KeepRegular(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
}

} // namespace qev::portal
