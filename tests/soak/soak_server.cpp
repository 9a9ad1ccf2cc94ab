// qev-soak-server: the scripted server of the download soak. Each URL names its run and how
// the server misbehaves for it:
//   /soak/<run>/<behaviour>/<size>/<cut>/<variant>/<file>
// behaviours: clean, drop, ignored, wrongstart, short, 404, stall, trickle (see Answer).
// Prints "port N" once listening, then serves until its standard input closes.
//   qev-soak-server --content RUN SIZE FILE   writes the object of that run to FILE
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "fake_http_server.h"

namespace {

using qev::test::FakeReply;
using qev::test::FakeRequest;

// A stall lasts far longer than the client's stall bound; the line then closes.
constexpr int StallMs = 30000;
constexpr std::size_t TricklePiece = 1024;
constexpr int TrickleDelayMs = 10;

std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::string Content(std::uint64_t run, std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t word = Mix((run << 32) ^ (i / 8));
        for (std::size_t k = 0; k < 8 && i + k < size; ++k)
            bytes[i + k] = static_cast<char>((word >> (8 * k)) & 0xFF);
    }
    return bytes;
}

// The first position a "Range: bytes=a-" asks for; 0 without one.
long long AskedStart(const FakeRequest& request)
{
    const std::string range = request.Header("Range");
    if (range.rfind("bytes=", 0) != 0) return 0;
    return std::atoll(range.c_str() + 6);
}

struct Plan {
    std::uint64_t run = 0;
    std::string behaviour;
    std::size_t size = 0;
    long cut = 0;
    int variant = 0;
};

bool ParsePlan(const std::string& target, Plan& plan)
{
    std::vector<std::string> parts;
    std::stringstream in(target);
    for (std::string part; std::getline(in, part, '/');) parts.push_back(part);
    // "", "soak", run, behaviour, size, cut, variant, file
    if (parts.size() != 8 || parts[1] != "soak") return false;
    plan.run = std::strtoull(parts[2].c_str(), nullptr, 10);
    plan.behaviour = parts[3];
    plan.size = std::strtoull(parts[4].c_str(), nullptr, 10);
    plan.cut = std::atol(parts[5].c_str());
    plan.variant = std::atoi(parts[6].c_str());
    return plan.size >= 2;
}

// n: how many requests for this URL came before this one.
FakeReply Answer(const Plan& plan, int n, const FakeRequest& request)
{
    using qev::test::MakeReply;
    using qev::test::RangeReply;
    using qev::test::WrongStartReply;
    const std::string content = Content(plan.run, plan.size);
    const std::string& b = plan.behaviour;
    if (b == "404") return MakeReply(404, "<html>not here</html>");
    FakeReply reply = RangeReply(content, request);
    if (b == "drop" && n == 0) {
        reply.closeAfter = plan.cut; // a drop at a random byte; the resume is served well
    } else if (b == "ignored") {
        // After a drop, every Range is ignored: the whole object again, with 200.
        if (n == 0)
            reply.closeAfter = plan.cut;
        else
            reply = MakeReply(200, content);
    } else if (b == "wrongstart") {
        // Variant 0: after a drop, a resume answers from half the asked position; asked
        // from 0, it answers well. Variant 1: every answer starts one byte late.
        const long long asked = AskedStart(request);
        if (plan.variant == 1)
            reply = WrongStartReply(content, asked + 1);
        else if (n == 0)
            reply.closeAfter = plan.cut;
        else if (asked > 0)
            reply = WrongStartReply(content, asked / 2);
    } else if (b == "short") {
        // The length headers count 100 bytes more than the object has; they never come.
        const std::string phantom = content + std::string(100, 'x');
        reply = RangeReply(phantom, request);
        const long long first = AskedStart(request);
        const auto real =
            static_cast<std::size_t>(std::max(0LL, static_cast<long long>(plan.size) - first));
        if (reply.body.size() > real) {
            reply.missingBytes = static_cast<long>(reply.body.size() - real);
            reply.body.resize(real);
        }
    } else if (b == "stall") {
        // Goes silent after a random byte. Variant 0: once; variant 1: every answer after
        // the first is silent from its head on.
        if (n == 0 || plan.variant == 1) {
            reply.closeAfter = n == 0 ? plan.cut : 0;
            reply.holdMs = StallMs;
        }
    } else if (b == "trickle") {
        reply.writeSize = TricklePiece;
        reply.pieceDelayMs = TrickleDelayMs;
    }
    return reply;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--content") == 0) {
        std::ofstream out(argv[4], std::ios::binary);
        out << Content(std::strtoull(argv[2], nullptr, 10), std::strtoull(argv[3], nullptr, 10));
        return out ? 0 : 1;
    }
    if (argc != 1) {
        std::fprintf(stderr, "usage: qev-soak-server [--content RUN SIZE FILE]\n");
        return 2;
    }
    qev::test::FakeHttpServer server;
    std::mutex mutex;
    std::map<std::string, int> seen;
    server.SetHandler([&](const FakeRequest& request) {
        Plan plan;
        if (!ParsePlan(request.target, plan)) return qev::test::MakeReply(404);
        int n = 0;
        {
            std::lock_guard lock(mutex);
            n = seen[request.target]++;
        }
        return Answer(plan, n, request);
    });
    std::printf("port %d\n", server.port());
    std::fflush(stdout);
    // Runs until the script closes our input.
    for (std::string line; std::getline(std::cin, line);) {
    }
    return 0;
}
