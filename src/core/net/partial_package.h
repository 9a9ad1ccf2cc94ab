#pragma once
// The one unfinished package kept between runs, so that a package cut by the client's exit
// is resumed at the next start instead of fetched again from its first byte. Its record is
// read back from disk, so it is parsed as outside input.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qev {

struct PartialPackage {
    std::string host;         // as it was fetched over, with its scheme
    std::string path;         // its object path on that host
    std::string name;         // the name it is stored under
    std::uint32_t size = 0;   // the signed size
    std::string sha256;       // the signed hash in hex: the same statement, not only the name
    std::string validator;    // the first answer's strong ETag, else its Last-Modified
    std::int64_t savedAt = 0; // seconds since 1970
};

inline constexpr std::int64_t PartialKeepSeconds = 14 * 24 * 3600;
inline constexpr std::size_t MaxPartialRecordBytes = 4096;

// One "key value" line per field; "" when a field holds a line break or control byte, or
// a field that must not be empty is.
std::string FormatPartialRecord(const PartialPackage& partial);
// The record exactly as FormatPartialRecord writes it; nothing on any deviation.
std::optional<PartialPackage> ParsePartialRecord(std::string_view text);
// The byte the kept file (fileSize bytes) may be resumed from for the package wanted now:
// its size, when kept names the same host, path, name, signed size and hash, was saved at
// most PartialKeepSeconds before now (and not after it), and the file holds at least one
// byte and fewer than the signed size. 0 when it must go.
std::int64_t PartialResumeFrom(const PartialPackage& kept, std::int64_t fileSize,
                               const PartialPackage& wanted, std::int64_t now);

} // namespace qev
