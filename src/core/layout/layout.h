#pragma once
// The layout document: per game, the windows' sizes, sprites, buttons and web panes,
// the caption colour and the update sources; plus the update manifest's values.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/utf.h"

namespace qev {

struct UpdateSource {
    std::string host, path, file;
};
struct ImageEntry {
    int id = 0;
    std::string file;
};
struct SpriteItem {
    int x = 0, y = 0, image = 0, layer = 0;
};
// Buttons and panes hold rectangles: right = x + w, bottom = y + h.
struct ButtonItem {
    int left = 0, top = 0, right = 0, bottom = 0, normal = 0, hover = 0, pressed = 0, action = 0,
        flag = 0;
};
struct WebPane {
    int left = 0, top = 0, right = 0, bottom = 0, l = 0, t = 0, r = 0, b = 0, flag = 0;
    std::string function, url;
};
struct WindowLayout {
    int width = 0, height = 0;
    std::vector<SpriteItem> sprites;
    std::vector<ButtonItem> buttons;
    std::vector<WebPane> webPanes;
};
struct GameEntry {
    std::vector<UpdateSource> updateSources;
    std::string name, resourceFolder;
    std::vector<ImageEntry> images;
    WindowLayout login, gamemain, remind;
};
struct LayoutDocument {
    std::uint32_t captionColour = 0xFFFFFFFF;
    std::map<std::string, GameEntry, Utf16Less> games;
    std::uint32_t major = 0, minor = 0;
    std::vector<UpdateSource> manifestItems;
};

// Id of the built-in layout document among the "XML" resources.
inline constexpr int LayoutResourceId = 1000;

// Reads a layout document into doc. Returns 1 when the text parsed as XML (even when it
// held nothing usable), 0 when the XML reader reported an error (doc unchanged).
int LoadLayout(LayoutDocument& doc, std::string_view text);

// An integer attribute as the layout reads it: leading white space, optional sign, digits
// up to the first non-digit; 0 without digits; clamped to the 32-bit range.
int ParseIntLikeAtoi(std::string_view text);

// One decimal integer as "%d" reads it, from text[pos]: white space, an optional sign, at
// least one digit. On success stores the value (saturated to the int range), moves pos past
// the digits and returns true; without a digit returns false and changes nothing.
bool ScanDecimalInt(std::string_view text, std::size_t& pos, int& out);

// The white space that number reading skips (blank, tab, line ends, vertical tab, form feed).
inline bool IsNumberSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The layout document, the name of the current game, and the lookups over them.
// Names compare exactly (ordinal, case-sensitive).
class LayoutState {
public:
    LayoutDocument layout;
    std::string currentGameName;

    // Makes name current when the games map holds it; otherwise nothing changes.
    void SelectGame(const std::string& name);
    // The game stored under exactly currentGameName, or null.
    GameEntry* GetCurrentGame();
    const GameEntry* GetCurrentGame() const;
    // The first pane with that function in the "login" or "gamemain" layout; null for any
    // other window name, an empty function, or no current game.
    WebPane* FindWebPane(std::string_view window, std::string_view function);
    // FindWebPane("gamemain", function).
    WebPane* FindGamePane(std::string_view function);
};

} // namespace qev
