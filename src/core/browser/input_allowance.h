#pragma once
// What one input of the player on a page allows that page: one of each kind of request,
// for a short while. A page cannot save up clicks, and a refused request (an ad frame's
// download, say) does not use up the player's click for the request the player meant.
#include <array>
#include <cstdint>

namespace qev {

enum class AllowanceKind { SchemeQuestion, Download, Popup, PointerLock };

class InputAllowance {
public:
    // How long an input allows a request.
    static constexpr std::int64_t ValidMs = 1000;

    // The player pressed a mouse button or a key (other than Esc) on the page at nowMs:
    // one allowance of each kind, replacing any left from an earlier input.
    void OnInput(std::int64_t nowMs);
    bool Has(AllowanceKind kind, std::int64_t nowMs) const;
    // For a request that is accepted: true, and the allowance is gone, when there was one.
    bool Spend(AllowanceKind kind, std::int64_t nowMs);

private:
    static constexpr std::int64_t None = INT64_MIN;
    std::array<std::int64_t, 4> granted_{None, None, None, None};
};

} // namespace qev
