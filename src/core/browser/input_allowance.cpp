#include "core/browser/input_allowance.h"

namespace qev {

void InputAllowance::OnInput(std::int64_t nowMs)
{
    granted_.fill(nowMs);
}

bool InputAllowance::Has(AllowanceKind kind, std::int64_t nowMs) const
{
    const std::int64_t granted = granted_[static_cast<std::size_t>(kind)];
    // A clock set back counts as no time passed, never as a fresh input.
    return granted != None && nowMs - granted <= ValidMs && nowMs >= granted - ValidMs;
}

bool InputAllowance::Spend(AllowanceKind kind, std::int64_t nowMs)
{
    if (!Has(kind, nowMs)) return false;
    granted_[static_cast<std::size_t>(kind)] = None;
    return true;
}

} // namespace qev
