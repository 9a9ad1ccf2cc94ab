#include "core/browser/session_info.h"

namespace qev {

bool IsGameTarget(std::string_view target)
{
    constexpr std::string_view game = "_game";
    if (target.size() != game.size()) return false;
    for (std::size_t i = 0; i < game.size(); ++i) {
        char c = target[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != game[i]) return false;
    }
    return true;
}

} // namespace qev
