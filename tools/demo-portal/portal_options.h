#pragma once
// Command line of qev-demo-portal.
#include <cstdint>
#include <string>
#include <vector>

namespace qev::portal {

constexpr int DefaultPortalPort = 18080;
// The game, forum and static hosts listen on the ports right after the portal's.
constexpr int GamePortOffset = 1;
constexpr int ForumPortOffset = 2;
constexpr int StaticPortOffset = 3;
// Size of the game site's script pack, in MiB.
constexpr int DefaultAssetMiB = 4;
constexpr int MaxAssetMiB = 256;

struct PortalOptions {
    int port = DefaultPortalPort;
    std::string bindAddress = "127.0.0.1";
    std::string offerUpdateFile; // empty: announce the current version only
    std::string secretKeyFile;   // signs the offered package; empty: FILE.sig or built-in key
    std::string filesDir;        // empty: no /files/ folder
    std::uint64_t dropEvery = 0; // 0: never drop a file response
    std::uint64_t rate = 0;      // bytes per second of every response body; 0: unpaced
    int assetMiB = DefaultAssetMiB;
    std::string tlsCertFile, tlsKeyFile; // both set: https on every host
    bool help = false;
};

// Parses arguments after the program name. On failure returns false with a one-line reason.
bool ParsePortalOptions(const std::vector<std::string>& args, PortalOptions& options,
                        std::string& error);

const char* PortalUsage();

} // namespace qev::portal
