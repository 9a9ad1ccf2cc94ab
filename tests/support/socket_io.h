#pragma once
// The few socket calls the scripted server needs, so that it runs on Linux and, under
// Wine, on Windows (support/posix, support/win32).
#include <cstddef>
#include <cstdint>

namespace qev::test {

using Socket = std::intptr_t;
inline constexpr Socket NoSocket = -1;

// A listening TCP socket on 127.0.0.1 at port, or (port 0) at one of the system's choice,
// put in port.
Socket ListenOnLoopback(int& port);
Socket AcceptConnection(Socket listener);
// A pair whose first end becomes readable once Wake(second end) is called; wakes waits.
bool MakeWakePair(Socket pair[2]);
void Wake(Socket writeEnd);

// Waits until a or b is readable (or closed): 1 for a, 2 for b, 0 after timeoutMs (-1:
// no limit), -1 on error.
int WaitReadable(Socket a, Socket b, int timeoutMs);
// recv(); 0 at the end, below 0 on error.
long Receive(Socket s, char* buffer, std::size_t size);
// Sends all of it; false when the connection broke.
bool SendAll(Socket s, const char* data, std::size_t size);
// Ends both directions so the peer sees the end of the answer, then (CloseSocket) lets go.
void ShutdownBoth(Socket s);
void CloseSocket(Socket s);

} // namespace qev::test
