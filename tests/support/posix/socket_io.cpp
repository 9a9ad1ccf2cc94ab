#include "socket_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace qev::test {

Socket ListenOnLoopback(int& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return NoSocket;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<unsigned short>(port)); // 0: any free port
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0) {
        close(fd);
        return NoSocket;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

Socket AcceptConnection(Socket listener)
{
    const int fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? NoSocket : fd;
}

bool MakeWakePair(Socket pair[2])
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    pair[0] = fds[0];
    pair[1] = fds[1];
    return true;
}

void Wake(Socket writeEnd)
{
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = write(static_cast<int>(writeEnd), &byte, 1);
}

int WaitReadable(Socket a, Socket b, int timeoutMs)
{
    pollfd fds[2] = {{static_cast<int>(a), POLLIN, 0}, {static_cast<int>(b), POLLIN, 0}};
    int r;
    do {
        r = poll(fds, 2, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return -1;
    if (fds[1].revents) return 2;
    if (fds[0].revents) return 1;
    return 0;
}

long Receive(Socket s, char* buffer, std::size_t size)
{
    ssize_t n;
    do {
        n = recv(static_cast<int>(s), buffer, size, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

bool SendAll(Socket s, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = send(static_cast<int>(s), data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void ShutdownBoth(Socket s)
{
    shutdown(static_cast<int>(s), SHUT_RDWR);
}

void CloseSocket(Socket s)
{
    if (s != NoSocket) close(static_cast<int>(s));
}

} // namespace qev::test
