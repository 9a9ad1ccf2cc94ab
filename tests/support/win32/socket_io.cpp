#include "socket_io.h"

#include <winsock2.h>
// winsock2.h first: ws2tcpip.h builds on it.
#include <ws2tcpip.h>

#include <mutex>

namespace qev::test {
namespace {

void StartWinsock()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

SOCKET AsSocket(Socket s)
{
    return static_cast<SOCKET>(s);
}

} // namespace

Socket ListenOnLoopback(int& port)
{
    StartWinsock();
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return NoSocket;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<unsigned short>(port)); // 0: any free port
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 64) != 0) {
        closesocket(s);
        return NoSocket;
    }
    int len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return static_cast<Socket>(s);
}

Socket AcceptConnection(Socket listener)
{
    const SOCKET s = accept(AsSocket(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? NoSocket : static_cast<Socket>(s);
}

bool MakeWakePair(Socket pair[2])
{
    // Windows has no pipe a socket wait can watch: a connected loopback pair instead.
    int port = 0;
    const Socket listener = ListenOnLoopback(port);
    if (listener == NoSocket) return false;
    const SOCKET writer = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    if (writer == INVALID_SOCKET ||
        connect(writer, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (writer != INVALID_SOCKET) closesocket(writer);
        CloseSocket(listener);
        return false;
    }
    const Socket reader = AcceptConnection(listener);
    CloseSocket(listener);
    if (reader == NoSocket) {
        closesocket(writer);
        return false;
    }
    pair[0] = reader;
    pair[1] = static_cast<Socket>(writer);
    return true;
}

void Wake(Socket writeEnd)
{
    const char byte = 0;
    send(AsSocket(writeEnd), &byte, 1, 0);
}

int WaitReadable(Socket a, Socket b, int timeoutMs)
{
    WSAPOLLFD fds[2] = {{AsSocket(a), POLLRDNORM, 0}, {AsSocket(b), POLLRDNORM, 0}};
    const int r = WSAPoll(fds, 2, timeoutMs);
    if (r < 0) return -1;
    if (fds[1].revents) return 2;
    if (fds[0].revents) return 1;
    return 0;
}

long Receive(Socket s, char* buffer, std::size_t size)
{
    return recv(AsSocket(s), buffer, static_cast<int>(size), 0);
}

bool SendAll(Socket s, const char* data, std::size_t size)
{
    while (size > 0) {
        const int n = send(AsSocket(s), data, static_cast<int>(size), 0);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void ShutdownBoth(Socket s)
{
    shutdown(AsSocket(s), SD_BOTH);
}

void CloseSocket(Socket s)
{
    if (s != NoSocket) closesocket(AsSocket(s));
}

} // namespace qev::test
