#include "portal_options.h"

#include <charconv>

namespace qev::portal {
namespace {

bool ParseUnsigned(const std::string& text, std::uint64_t& value)
{
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

} // namespace

const char* PortalUsage()
{
    return "usage: qev-demo-portal [--port N] [--offer-update FILE [--secret-key KEYFILE]]\n"
           "                       [--files DIR] [--drop-every BYTES] [--rate BYTES_PER_SECOND]\n"
           "                       [--asset-mib N] [--bind ADDR] [--tls CERT.pem KEY.pem]\n"
           "  --port N            portal port (default 18080); game N+1, forum N+2, static N+3\n"
           "  --offer-update FILE announce the next version and serve FILE as its package,\n"
           "                      with its statement FILE.sig beside it: signed with KEYFILE\n"
           "                      when given, else the existing FILE.sig, else signed with\n"
           "                      the built-in key when this build has one\n"
           "  --secret-key KEYFILE\n"
           "                      sign FILE with this secret key file (qev-sign keygen)\n"
           "  --files DIR         serve the files of DIR under /files/<name>\n"
           "  --drop-every BYTES  close a file response's connection after BYTES body bytes\n"
           "  --rate BYTES_PER_SECOND\n"
           "                      send every response body at about this rate (each\n"
           "                      connection on its own); default: as fast as possible\n"
           "  --asset-mib N       size of the game page's script pack in MiB (default 4)\n"
           "  --bind ADDR         listen address (default 127.0.0.1)\n"
           "  --tls CERT KEY      every host speaks https with this certificate and key\n";
}

bool ParsePortalOptions(const std::vector<std::string>& args, PortalOptions& options,
                        std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (name != "--port" && name != "--offer-update" && name != "--secret-key" &&
            name != "--files" && name != "--drop-every" && name != "--rate" &&
            name != "--asset-mib" && name != "--bind" && name != "--tls") {
            error = "unknown option: " + name;
            return false;
        }
        if (i + 1 >= args.size()) {
            error = name + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        if (name == "--port") {
            std::uint64_t port = 0;
            // All four hosts must fit below 65536.
            if (!ParseUnsigned(value, port) || port < 1 || port + StaticPortOffset > 65535) {
                error =
                    "--port needs a number from 1 to " + std::to_string(65535 - StaticPortOffset);
                return false;
            }
            options.port = static_cast<int>(port);
        } else if (name == "--drop-every") {
            if (!ParseUnsigned(value, options.dropEvery) || options.dropEvery == 0) {
                error = "--drop-every needs a positive number of bytes";
                return false;
            }
        } else if (name == "--rate") {
            if (!ParseUnsigned(value, options.rate) || options.rate == 0) {
                error = "--rate needs a positive number of bytes per second";
                return false;
            }
        } else if (name == "--asset-mib") {
            std::uint64_t mib = 0;
            if (!ParseUnsigned(value, mib) || mib < 1 || mib > MaxAssetMiB) {
                error = "--asset-mib needs a number from 1 to " + std::to_string(MaxAssetMiB);
                return false;
            }
            options.assetMiB = static_cast<int>(mib);
        } else if (value.empty()) {
            error = name + " needs a non-empty value";
            return false;
        } else if (name == "--offer-update") {
            options.offerUpdateFile = value;
        } else if (name == "--secret-key") {
            options.secretKeyFile = value;
        } else if (name == "--files") {
            options.filesDir = value;
        } else if (name == "--tls") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = "--tls needs a certificate file and a key file";
                return false;
            }
            options.tlsCertFile = value;
            options.tlsKeyFile = args[++i];
        } else {
            options.bindAddress = value;
        }
    }
    if (!options.secretKeyFile.empty() && options.offerUpdateFile.empty()) {
        error = "--secret-key signs the package of --offer-update, which is missing";
        return false;
    }
    return true;
}

} // namespace qev::portal
