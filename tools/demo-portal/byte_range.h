#pragma once
// Answers a single-range "Range: bytes=..." request header for an object of known size.
#include <cstdint>
#include <string_view>

namespace qev::portal {

enum class RangeOutcome {
    Whole,         // no usable Range: plain 200 with the whole object
    Partial,       // 206 with Content-Range: bytes first-last/total
    Unsatisfiable, // 416 with Content-Range: bytes */total
};

struct RangeAnswer {
    RangeOutcome outcome = RangeOutcome::Whole;
    std::uint64_t first = 0;  // first byte sent
    std::uint64_t length = 0; // bytes sent (the whole size for Whole, 0 for Unsatisfiable)
};

// Accepts "bytes=a-", "bytes=a-b" and the suffix form "bytes=-n". A header that is absent,
// malformed or asks for several ranges is ignored (the whole object), as a server may do.
// A last position past the end is cut to the end; a first position at or past the end, or an
// empty suffix, cannot be satisfied.
RangeAnswer ResolveRange(std::string_view header, std::uint64_t total);

} // namespace qev::portal
