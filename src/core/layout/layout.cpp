#include "core/layout/layout.h"

#include <climits>
#include <string>
#include <tinyxml.h>

#include "core/layout/xml_text.h"

namespace qev {
namespace {

std::string TextOf(const char* s)
{
    return s ? SanitizeUtf8(s) : std::string();
}

int IntAttr(const TiXmlElement* e, const char* name)
{
    const char* v = e->Attribute(name);
    return v ? ParseIntLikeAtoi(v) : 0;
}

// Rectangle sums wrap in 32 bits instead of overflowing.
int Add(int a, int b)
{
    return static_cast<int>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

template <typename Fn> void ForEachItem(const TiXmlElement* parent, const char* listName, Fn&& fn)
{
    const TiXmlElement* list = parent->FirstChildElement(listName);
    if (!list) return;
    for (const TiXmlElement* item = list->FirstChildElement("item"); item;
         item = item->NextSiblingElement("item"))
        fn(item);
}

void ReadWindow(LayoutDocument& doc, const TiXmlElement* e, WindowLayout& out)
{
    out.width = IntAttr(e, "w");
    out.height = IntAttr(e, "h");
    ForEachItem(e, "sprite", [&](const TiXmlElement* item) {
        SpriteItem s;
        s.image = IntAttr(item, "image");
        s.layer = IntAttr(item, "layer");
        s.x = IntAttr(item, "x");
        s.y = IntAttr(item, "y");
        out.sprites.push_back(s);
    });
    ForEachItem(e, "button", [&](const TiXmlElement* item) {
        ButtonItem b;
        b.normal = IntAttr(item, "normal");
        b.hover = IntAttr(item, "hover");
        b.pressed = IntAttr(item, "pressed");
        b.action = IntAttr(item, "action");
        const int x = IntAttr(item, "x"), y = IntAttr(item, "y");
        b.left = x;
        b.top = y;
        b.right = Add(x, IntAttr(item, "w"));
        b.bottom = Add(y, IntAttr(item, "h"));
        b.flag = IntAttr(item, "flag");
        out.buttons.push_back(b);
    });
    if (const TiXmlElement* caption = e->FirstChildElement("caption")) {
        const auto component = [&](const char* name) {
            return static_cast<std::uint32_t>(IntAttr(caption, name)) & 0xFFu;
        };
        doc.captionColour =
            0xFF000000u | (component("R") << 16) | (component("G") << 8) | component("B");
    }
    ForEachItem(e, "webs", [&](const TiXmlElement* item) {
        WebPane p;
        const int x = IntAttr(item, "x"), y = IntAttr(item, "y");
        p.left = x;
        p.top = y;
        p.right = Add(x, IntAttr(item, "w"));
        p.bottom = Add(y, IntAttr(item, "h"));
        p.l = IntAttr(item, "l");
        p.t = IntAttr(item, "t");
        p.r = IntAttr(item, "r");
        p.b = IntAttr(item, "b");
        p.flag = IntAttr(item, "flag");
        p.function = TextOf(item->Attribute("function"));
        if (const TiXmlNode* first = item->FirstChild(); first && first->ToText())
            p.url = TextOf(first->Value());
        out.webPanes.push_back(std::move(p));
    });
}

void ReadGame(LayoutDocument& doc, const TiXmlElement* e)
{
    const char* name = e->Attribute("name");
    if (!name) return;
    GameEntry game;
    game.name = TextOf(name);
    game.resourceFolder = TextOf(e->Attribute("resource"));
    ForEachItem(e, "update", [&](const TiXmlElement* item) {
        UpdateSource s;
        s.host = TextOf(item->Attribute("host"));
        s.path = TextOf(item->Attribute("path"));
        const char* file = item->Attribute("file");
        s.file = file ? TextOf(file) : std::string("update.xml");
        game.updateSources.push_back(std::move(s));
    });
    ForEachItem(e, "images", [&](const TiXmlElement* item) {
        game.images.push_back({IntAttr(item, "id"), TextOf(item->Attribute("file"))});
    });
    // Windows are read in this order whatever the document order; it decides which
    // <caption> is read last.
    for (auto [tag, window] :
         {std::pair{"login", &game.login}, std::pair{"gamemain", &game.gamemain},
          std::pair{"remind", &game.remind}}) {
        if (const TiXmlElement* w = e->FirstChildElement(tag)) ReadWindow(doc, w, *window);
    }
    doc.games.emplace(game.name, std::move(game)); // an existing name keeps its entry
}

} // namespace

bool ScanDecimalInt(std::string_view text, std::size_t& pos, int& out)
{
    std::size_t i = pos;
    while (i < text.size() && IsNumberSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    out = value > INT_MAX ? INT_MAX : static_cast<int>(value);
    pos = i;
    return true;
}

int ParseIntLikeAtoi(std::string_view text)
{
    std::size_t pos = 0;
    int value = 0;
    return ScanDecimalInt(text, pos, value) ? value : 0;
}

int LoadLayout(LayoutDocument& doc, std::string_view text)
{
    // Parsed from a terminated copy, so nothing beyond the resource is read.
    TiXmlDocument xml;
    if (ParseXmlText(xml, text) != XmlRefusal::None || xml.Error()) return 0;
    const TiXmlElement* config = xml.FirstChildElement("config");
    if (!config) return 1;
    const TiXmlElement* games = config->FirstChildElement("games");
    if (!games) return 1;
    for (const TiXmlElement* g = games->FirstChildElement(); g; g = g->NextSiblingElement())
        ReadGame(doc, g);
    return 1;
}

void LayoutState::SelectGame(const std::string& name)
{
    if (layout.games.count(name)) currentGameName = name;
}

GameEntry* LayoutState::GetCurrentGame()
{
    auto it = layout.games.find(currentGameName);
    return it == layout.games.end() ? nullptr : &it->second;
}

const GameEntry* LayoutState::GetCurrentGame() const
{
    auto it = layout.games.find(currentGameName);
    return it == layout.games.end() ? nullptr : &it->second;
}

WebPane* LayoutState::FindWebPane(std::string_view window, std::string_view function)
{
    if (function.empty()) return nullptr;
    GameEntry* game = GetCurrentGame();
    if (!game) return nullptr;
    std::vector<WebPane>* panes = nullptr;
    if (window == "gamemain")
        panes = &game->gamemain.webPanes;
    else if (window == "login")
        panes = &game->login.webPanes;
    else
        return nullptr;
    for (WebPane& p : *panes)
        if (p.function == function) return &p;
    return nullptr;
}

WebPane* LayoutState::FindGamePane(std::string_view function)
{
    return FindWebPane("gamemain", function);
}

} // namespace qev
