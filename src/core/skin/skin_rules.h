#pragma once
// Window-free rules of the skinned windows: which image a button shows, the command id a
// button sends, the order sprites are drawn in, and where a browser pane puts its control.
#include <functional>
#include <optional>
#include <vector>

#include "core/layout/layout.h"

namespace qev {

// Draw-state flags handed to a button's painting; numbers as the platform's draw items.
enum ButtonStateFlag : unsigned {
    StateSelected = 0x0001,
    StateDisabled = 0x0004,
    StateFocus = 0x0010,
    StateHot = 0x0040,
};

// A button's state images; a negative id means "no image of its own".
struct ButtonImages {
    int normal = -1, pressed = -1, hover = -1, focus = -1, disabled = -1;
};

// From a layout item: normal, hover and pressed as listed, focus and disabled = normal.
ButtonImages ButtonImagesFromItem(const ButtonItem& item);

// The flags of one paint: focus if focused; selected if pressed, otherwise hot if hovered;
// a disabled button carries the disabled flag alone.
unsigned ButtonStateFlags(bool focused, bool pressed, bool hovered, bool enabled);

// The first rule that holds: selected+pressed, hot+hover, focus+focus, disabled+disabled
// (each only with an id >= 0), otherwise the normal image.
int ChooseButtonImage(const ButtonImages& images, unsigned state);

// Button command ids are the layout action offset by this base.
inline constexpr int ButtonCommandBase = 0x8000;
// action + 0x8000, wrapping like 32-bit arithmetic instead of overflowing.
int ButtonCommandId(int action);

// One sprite ready to draw: its layer, the rectangle its image covers and the image id.
struct SpriteEntry {
    int layer = 0, left = 0, top = 0, right = 0, bottom = 0, image = 0;
};

// Image size lookup: nothing when the image id is not known.
using ImageSizeLookup = std::function<std::optional<std::pair<int, int>>(int imageId)>;

// The sprites in drawing order (ascending layer; equal layers keep their document order).
// A sprite whose image is unknown keeps an empty rectangle at (x, y).
std::vector<SpriteEntry> BuildSpriteEntries(const std::vector<SpriteItem>& sprites,
                                            const ImageSizeLookup& imageSize);

// A rectangle as left, top, right and bottom edges (right and bottom exclusive).
struct EdgeRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const EdgeRect&) const = default;
};

// Where a browser pane's control sits inside its host of width x height: the margins push
// the edges outwards (negative values pull them in): (-l, -t, width + r, height + b).
// Sums saturate at the 32-bit range.
EdgeRect BrowserControlRect(int width, int height, int l, int t, int r, int b);

} // namespace qev
