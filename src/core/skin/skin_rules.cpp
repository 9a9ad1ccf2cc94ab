#include "core/skin/skin_rules.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace qev {
namespace {

int SaturatingSum(std::int64_t a, std::int64_t b)
{
    const std::int64_t sum = a + b;
    return static_cast<int>(std::clamp<std::int64_t>(sum, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

} // namespace

ButtonImages ButtonImagesFromItem(const ButtonItem& item)
{
    ButtonImages images;
    images.normal = item.normal;
    images.hover = item.hover;
    images.pressed = item.pressed;
    images.focus = item.normal;
    images.disabled = item.normal;
    return images;
}

unsigned ButtonStateFlags(bool focused, bool pressed, bool hovered, bool enabled)
{
    if (!enabled) return StateDisabled;
    unsigned state = focused ? StateFocus : 0u;
    if (pressed)
        state |= StateSelected;
    else if (hovered)
        state |= StateHot;
    return state;
}

int ChooseButtonImage(const ButtonImages& images, unsigned state)
{
    if ((state & StateSelected) && images.pressed >= 0) return images.pressed;
    if ((state & StateHot) && images.hover >= 0) return images.hover;
    if ((state & StateFocus) && images.focus >= 0) return images.focus;
    if ((state & StateDisabled) && images.disabled >= 0) return images.disabled;
    return images.normal;
}

int ButtonCommandId(int action)
{
    // Conversion back to int is modular in C++20, so extreme actions wrap instead of
    // overflowing.
    return static_cast<int>(static_cast<std::uint32_t>(action) +
                            static_cast<std::uint32_t>(ButtonCommandBase));
}

std::vector<SpriteEntry> BuildSpriteEntries(const std::vector<SpriteItem>& sprites,
                                            const ImageSizeLookup& imageSize)
{
    std::vector<SpriteEntry> entries;
    entries.reserve(sprites.size());
    for (const SpriteItem& sprite : sprites) {
        SpriteEntry entry{sprite.layer, sprite.x, sprite.y, sprite.x, sprite.y, sprite.image};
        if (auto size = imageSize ? imageSize(sprite.image) : std::nullopt) {
            entry.right = SaturatingSum(sprite.x, size->first);
            entry.bottom = SaturatingSum(sprite.y, size->second);
        }
        entries.push_back(entry);
    }
    // Stable, so sprites sharing a layer draw in document order on every run.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const SpriteEntry& a, const SpriteEntry& b) { return a.layer < b.layer; });
    return entries;
}

EdgeRect BrowserControlRect(int width, int height, int l, int t, int r, int b)
{
    return EdgeRect{SaturatingSum(0, -static_cast<std::int64_t>(l)),
                    SaturatingSum(0, -static_cast<std::int64_t>(t)), SaturatingSum(width, r),
                    SaturatingSum(height, b)};
}

} // namespace qev
