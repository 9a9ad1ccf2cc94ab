// HttpGetText's redirects to https against a local TLS server. Apart from the other
// HttpGetText tests because the server is run with POSIX calls and trusted through a PEM
// file, which only the Linux HTTP stack takes.
#include "core/platform/http_get.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "core/platform/network_init.h"
#include "fake_http_server.h"
#include "sandbox.h"

namespace qev {
namespace {

using test::FakeHttpServer;
using test::MakeReply;

class HttpGet : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitNetwork(); }
    FakeHttpServer server;
};

// A local TLS server for redirect tests: `openssl s_server -WWW` serving one folder, with a
// certificate for 127.0.0.1 made for the run, which a test trusts explicitly.
class TlsFileServer {
public:
    TlsFileServer()
    {
        const std::string make =
            "cd '" + dir_ +
            "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
            "-keyout key.pem -out cert.pem -days 2 -subj /CN=127.0.0.1 "
            "-addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) return;
        port_ = FreePort();
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(dir_.c_str()) != 0) _exit(127);
            const std::string accept = "127.0.0.1:" + std::to_string(port_);
            execlp("openssl", "openssl", "s_server", "-quiet", "-WWW", "-accept", accept.c_str(),
                   "-cert", "cert.pem", "-key", "key.pem", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200 && pid_ > 0 && !ready_; ++i) {
            ready_ = Connects();
            if (!ready_) usleep(25000);
        }
    }
    ~TlsFileServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool ready() const { return ready_; }
    int port() const { return port_; }
    std::string caFile() const { return dir_ + "/cert.pem"; }
    void Put(const std::string& name, const std::string& text)
    {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }

private:
    static int FreePort()
    {
        FakeHttpServer probe;
        return probe.port();
    }
    bool Connects() const
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port_));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        return ok;
    }

    const test::Sandbox sandbox_;
    const std::string dir_ = sandbox_.path();
    int port_ = 0;
    pid_t pid_ = -1;
    bool ready_ = false;
};

// Redirects go on to https with the certificate checked, and to no other scheme.
TEST_F(HttpGet, RedirectsReachHttpsAndNoOtherScheme)
{
    TlsFileServer tls;
    ASSERT_TRUE(tls.ready()) << "the local TLS server (openssl s_server) did not start";
    tls.Put("feed.txt", "over tls");
    const std::string https = "https://127.0.0.1:" + std::to_string(tls.port()) + "/feed.txt";
    auto redirectTo = [](const std::string& where) {
        auto reply = MakeReply(302, "moved");
        reply.headers.push_back("Location: " + where);
        return reply;
    };
    server.Enqueue(redirectTo(https));
    EXPECT_EQ(HttpGetText("?q=1", "/feed", server.host(), {tls.caFile()}), "over tls");
    // The same host without trusting its certificate: a failure, not the redirect's body.
    server.Enqueue(redirectTo(https));
    EXPECT_EQ(HttpGetText("?q=1", "/feed", server.host()), "");
    for (const std::string where : {"file:///etc/hostname", "ftp://127.0.0.1:1/x", "gopher://x/"}) {
        server.Enqueue(redirectTo(where));
        EXPECT_EQ(HttpGetText("", "/elsewhere", server.host(), {tls.caFile()}), "") << where;
    }
}

} // namespace
} // namespace qev
