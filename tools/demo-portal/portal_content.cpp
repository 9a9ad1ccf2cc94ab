#include "portal_content.h"

#include "core/base/utf.h"
#include "http_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <random>

namespace qev::portal {
namespace {

// Where the feed's activities sit relative to now, in minutes.
constexpr int UpcomingStartsIn = 10;
constexpr int RunningStartedAgo = 5;
constexpr int ActivityLength = 30;
constexpr int LaterStartsIn = 180;

// Night blue with gold: shared by every page of the portal, game site and forum.
constexpr std::string_view ThemeCss = R"CSS(
:root{--night:#0b1530;--deep:#060b1a;--gold:#d8b45a;--gold-hi:#f3dc9a;--ink:#cfd6ea;--muted:#8d98b8}
*{box-sizing:border-box}
html,body{margin:0;padding:0;overflow:hidden;background:var(--deep);color:var(--ink);
 font-family:Georgia,"DejaVu Serif","Times New Roman",serif}
a{color:var(--gold-hi)}
.stars,.stars:after{position:absolute;left:0;top:0;width:2px;height:2px;border-radius:50%;
 background:transparent;content:"";box-shadow:
 40px 30px #fff,120px 80px #cfd6ea,210px 24px #fff,300px 110px #9fb0d8,360px 40px #fff,
 470px 90px #cfd6ea,540px 20px #fff,610px 70px #9fb0d8,700px 30px #fff,820px 100px #cfd6ea,
 900px 50px #fff,980px 120px #9fb0d8,80px 150px #9fb0d8,260px 170px #fff,430px 160px #cfd6ea,
 660px 150px #fff,760px 190px #9fb0d8,940px 200px #fff}
.stars:after{left:23px;top:11px;opacity:.6;animation:twinkle 4s ease-in-out infinite alternate}
@keyframes twinkle{from{opacity:.15}to{opacity:.8}}
.moon{position:absolute;border-radius:50%;
 background:radial-gradient(circle at 35% 35%,#fff6d8,#e8c877 60%,#a67e32);
 box-shadow:0 0 28px rgba(243,220,154,.55)}
.brand{font-variant:small-caps;letter-spacing:.32em;font-weight:bold;
 background:linear-gradient(180deg,#fff1c1,#d8b45a 55%,#9c7428);-webkit-background-clip:text;
 background-clip:text;color:transparent;text-shadow:0 2px 6px rgba(0,0,0,.4)}
.rule{height:1px;background:linear-gradient(90deg,transparent,var(--gold),transparent)}
)CSS";

// A castle on a ridge, drawn as one silhouette (viewBox 0 0 1000 120).
constexpr std::string_view SkylineSvg =
    R"SVG(<svg class="skyline" viewBox="0 0 1000 120" preserveAspectRatio="none" aria-hidden="true">
<path fill="#040814" d="M0 120 L0 92 L90 70 L170 84 L250 62 L330 80 L380 74 L380 40 L372 40 L372 30
L384 30 L384 36 L392 36 L392 30 L404 30 L404 40 L396 40 L396 64 L440 64 L440 22 L432 22 L432 10
L446 10 L446 16 L456 16 L456 10 L470 10 L470 22 L462 22 L462 64 L500 64 L500 34 L494 34 L500 18
L506 34 L500 34 L512 34 L512 64 L548 64 L548 40 L540 40 L540 30 L552 30 L552 36 L560 36 L560 30
L572 30 L572 40 L564 40 L564 76 L640 66 L720 84 L800 64 L880 80 L1000 70 L1000 120 Z"/>
<rect x="450" y="30" width="4" height="8" fill="#f3dc9a" opacity=".8"/>
<rect x="388" y="46" width="3" height="6" fill="#f3dc9a" opacity=".6"/>
</svg>)SVG";

// tail: markup after the page's own script, such as scripts that take long to load.
std::string Page(std::string_view title, std::string_view css, std::string_view body,
                 std::string_view script = {}, std::string_view tail = {})
{
    std::string page = "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width\">";
    page += "<title>" + HtmlEscape(title) + "</title><style>";
    page += ThemeCss;
    page += css;
    page += "</style></head>\n<body>";
    page += body;
    if (!script.empty()) {
        page += "<script>";
        page += script;
        page += "</script>";
    }
    page += tail;
    page += "</body></html>\n";
    return page;
}

// The login pane shows 625 x 319 pixels, starting 2 pixels into the page.
constexpr std::string_view PaneCss = R"CSS(
.pane{position:absolute;left:2px;top:2px;width:625px;height:319px;overflow:hidden;
 border:1px solid #8a6d2f;border-radius:6px;
 background:radial-gradient(ellipse at 84% 16%,rgba(243,220,154,.16),transparent 42%),
 linear-gradient(160deg,#1a2b57 0%,#0b1530 55%,#060b1a 100%)}
.pane .moon{right:46px;top:22px;width:50px;height:50px}
.pane .skyline{position:absolute;left:0;bottom:0;width:100%;height:70px}
.head{position:absolute;left:34px;top:26px}
.head h1{margin:0;font-size:34px}
.head p{margin:4px 0 0 2px;font-size:13px;color:var(--muted);font-style:italic}
.card{position:absolute;left:34px;top:108px;width:330px;padding:16px 18px;border-radius:6px;
 background:rgba(6,11,26,.72);border:1px solid rgba(216,180,90,.45);
 box-shadow:0 8px 24px rgba(0,0,0,.45)}
label{display:block;font-size:13px;color:var(--gold-hi);margin-bottom:8px;letter-spacing:.06em}
input[type=text]{width:100%;padding:8px 10px;font:15px Georgia,serif;color:#fff;
 background:#0d1a3a;border:1px solid #4b5c8c;border-radius:4px;outline:none}
input[type=text]:focus{border-color:var(--gold);box-shadow:0 0 0 2px rgba(216,180,90,.25)}
button{margin-top:12px;width:100%;padding:8px;font:bold 14px Georgia,serif;letter-spacing:.12em;
 color:#1b1305;background:linear-gradient(180deg,#f3dc9a,#c99b3c);border:1px solid #8a6d2f;
 border-radius:4px;cursor:pointer}
button:hover{background:linear-gradient(180deg,#fff0c4,#d8aa48)}
.notice{margin:10px 0 0;font-size:12px;color:#f0a080}
.foot{position:absolute;right:16px;bottom:8px;font-size:11px;color:var(--muted);z-index:2}
.realms{position:absolute;left:34px;top:102px;width:400px}
.realms h2{margin:0 0 8px;font-size:15px;font-weight:normal;color:var(--gold-hi)}
a.realm{display:flex;align-items:center;gap:12px;margin-bottom:8px;padding:8px 12px;
 text-decoration:none;color:var(--ink);border-radius:5px;background:rgba(6,11,26,.72);
 border:1px solid rgba(216,180,90,.35);outline:none}
a.realm:hover,a.realm:focus{border-color:var(--gold);background:rgba(28,42,82,.85)}
a.realm .name{flex:1;font-size:15px;color:#fff}
a.realm .state{font-size:11px;color:var(--muted);width:60px;text-align:right}
a.realm .bar{width:70px;height:6px;border-radius:3px;background:#1c2747;overflow:hidden}
a.realm .bar i{display:block;height:100%;background:linear-gradient(90deg,#6fbf73,#d8b45a,#d86a4a)}
.back{position:absolute;left:36px;bottom:12px;font-size:12px;z-index:2}
label.keep{display:flex;align-items:center;gap:8px;margin:10px 0 0;font-size:12px;
 color:var(--ink);letter-spacing:0;cursor:pointer}
label.keep input{margin:0;width:14px;height:14px;accent-color:#d8b45a;cursor:pointer}
.greeting{position:absolute;left:450px;top:110px;width:150px;margin:0;font-size:14px;
 font-style:italic;color:var(--gold-hi)}
)CSS";

std::string PaneFrame(std::string_view inner)
{
    std::string body = "<div class=\"pane\"><div class=\"stars\"></div><div class=\"moon\"></div>";
    body += SkylineSvg;
    body += "<div class=\"head\"><h1 class=\"brand\">Velmora</h1>"
            "<p>The realm beneath the gilded moon</p></div>";
    body += inner;
    body += "</div>";
    return body;
}

std::string TwoDigits(int value)
{
    return (value < 10 ? "0" : "") + std::to_string(value);
}

// A time on the feed's day; one past midnight counts its hours on from 24 ("24:05"), which
// the client reads as the next day, so the schedule keeps its shape whatever the hour.
std::string ClockText(int minuteOfDay)
{
    if (minuteOfDay < 0) minuteOfDay = 0;
    return TwoDigits(minuteOfDay / 60) + ":" + TwoDigits(minuteOfDay % 60);
}

struct Activity {
    int number;
    std::string_view name;
    std::string_view colour; // base colour of its tip icon
    std::string_view glyph;  // SVG path in a 64 x 64 box
};

constexpr std::string_view SwordGlyph = "M32 9 L36 14 L36 37 L43 37 L43 42 L35 42 L35 52 L29 52 "
                                        "L29 42 L21 42 L21 37 L28 37 L28 14 Z";
constexpr std::string_view TowerGlyph = "M20 52 L20 25 L17 25 L17 15 L23 15 L23 20 L28 20 L28 15 "
                                        "L36 15 L36 20 L41 20 L41 15 L47 15 L47 25 L44 25 L44 52 "
                                        "L36 52 L36 43 A4 4 0 0 0 28 43 L28 52 Z";
constexpr std::string_view MoonGlyph = "M40 12 A21 21 0 1 0 40 52 A16 16 0 1 1 40 12 Z";
constexpr std::string_view StarGlyph = "M32 10 L37 25 L53 25 L40 35 L45 51 L32 41 L19 51 L24 35 "
                                       "L11 25 L27 25 Z";

const Activity& ActivityFor(int tid)
{
    static const Activity activities[] = {
        {1, "Dragon Hunt", "#b8322c", SwordGlyph},
        {2, "Siege of Moonfall", "#2c5fb8", TowerGlyph},
        {3, "Night Market", "#6a3cb0", MoonGlyph},
    };
    static const Activity daily{0, "Daily Quests", "#1f8a7a", StarGlyph};
    for (const Activity& a : activities) {
        if (a.number == tid) return a;
    }
    return daily;
}

} // namespace

const std::vector<Realm>& Realms()
{
    static const std::vector<Realm> realms = {
        {"s1", "Ashen Vale", "s1.velmora.demo", "Smooth", 34},
        {"s2", "Moonfall Keep", "s2.velmora.demo", "Busy", 78},
        {"s3", "Gloamwood Reach", "s3.velmora.demo", "New", 12},
    };
    return realms;
}

const Realm* FindRealm(std::string_view key)
{
    for (const Realm& realm : Realms()) {
        if (realm.key == key) return &realm;
    }
    return nullptr;
}

std::string CleanUserName(std::string_view raw)
{
    const std::string text = SanitizeUtf8(raw);
    std::string out;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size() && chars < MaxUserNameChars;) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (lead < 0x20 || lead == 0x7F) {
            ++i;
            continue;
        }
        if (out.empty() && lead == ' ') {
            ++i;
            continue;
        }
        out.append(text, i, length);
        i += length;
        ++chars;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string NewSessionId()
{
    static std::mutex mutex;
    static std::mt19937_64 engine{std::random_device{}()};
    std::uint64_t value = 0;
    {
        std::lock_guard lock(mutex);
        value = engine();
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

std::string LoginPage(std::string_view notice)
{
    std::string inner = "<form class=\"card\" method=\"get\" action=\"";
    inner += LoginPath;
    inner += "\" autocomplete=\"off\"><label for=\"user\">Name your hero</label>"
             "<input type=\"text\" id=\"user\" name=\"user\" maxlength=\"24\" "
             "placeholder=\"e.g. Aldric\" autofocus>"
             "<button type=\"submit\">Enter the realm</button>"
             "<label class=\"keep\" for=\"remember\"><input type=\"checkbox\" name=\"remember\" "
             "id=\"remember\">Remember me</label>";
    if (!notice.empty()) inner += "<p class=\"notice\">" + HtmlEscape(notice) + "</p>";
    inner += "</form><div class=\"foot\">Demo portal &middot; no password needed</div>";
    return Page("Velmora - Sign in", PaneCss, PaneFrame(inner),
                "document.getElementById('user').focus();");
}

std::string RealmListPage(const HostSet& hosts, std::string_view user, std::string_view sid,
                          bool welcomeBack)
{
    const std::string gameBase = hosts.Url(hosts.gamePort);
    std::string inner =
        "<div class=\"realms\"><h2>Choose your realm, " + HtmlEscape(user) + "</h2>";
    for (const Realm& realm : Realms()) {
        const std::string href = gameBase + "/play?server=" + QueryValueEncode(realm.key) +
                                 "&user=" + QueryValueEncode(user);
        inner += "<a class=\"realm\" target=\"_game\" title=\"" + HtmlEscape(realm.name) +
                 "\" href=\"" + HtmlEscape(href) + "\" domain=\"" + HtmlEscape(realm.domain) +
                 "\" sid=\"" + HtmlEscape(sid) + "\" user=\"" + HtmlEscape(user) + "\">";
        inner += "<span class=\"name\">" + HtmlEscape(realm.name) + "</span>";
        inner += "<span class=\"bar\"><i style=\"width:" + std::to_string(realm.load) +
                 "%\"></i></span>";
        inner += "<span class=\"state\">" + HtmlEscape(realm.state) + "</span></a>";
    }
    inner += "</div>";
    // Beside the list, so the realms stay where a fresh sign-in shows them.
    if (welcomeBack) {
        inner += "<p id=\"greeting\" class=\"greeting\">Welcome back, " + HtmlEscape(user) + "</p>";
    }
    // A remembered hero would be greeted again at the plain login address.
    inner += "<a class=\"back\" href=\"";
    inner += LoginPath;
    if (welcomeBack) inner += "?forget=1";
    inner += "\">&larr; another hero</a><div class=\"foot\">Demo portal</div>";
    return Page("Velmora - Realms", PaneCss, PaneFrame(inner));
}

std::string TaskTipsPage(int tid)
{
    const Activity& activity = ActivityFor(tid);
    // The reminder pane shows 64 x 64 pixels, starting 2 pixels into the page.
    const std::string css = ".tip{position:absolute;left:2px;top:2px;width:64px;height:64px}"
                            "svg{display:block}";
    std::string body = "<div class=\"tip\" title=\"" + HtmlEscape(activity.name) + "\">";
    body += "<svg width=\"64\" height=\"64\" viewBox=\"0 0 64 64\">"
            "<defs><radialGradient id=\"g\" cx=\"40%\" cy=\"35%\" r=\"70%\">"
            "<stop offset=\"0\" stop-color=\"#ffffff\" stop-opacity=\".35\"/>"
            "<stop offset=\".35\" stop-color=\"";
    body += activity.colour;
    body += "\"/><stop offset=\"1\" stop-color=\"#060b1a\"/></radialGradient></defs>"
            "<circle cx=\"32\" cy=\"32\" r=\"29\" fill=\"url(#g)\" stroke=\"#d8b45a\" "
            "stroke-width=\"3\"/><circle cx=\"32\" cy=\"32\" r=\"25\" fill=\"none\" "
            "stroke=\"#f3dc9a\" stroke-opacity=\".35\"/><path fill=\"#f3dc9a\" stroke=\"#5a4116\" "
            "stroke-width=\"1\" d=\"";
    body += activity.glyph;
    body += "\"/></svg></div>";
    return Page(activity.name, css, body);
}

std::string LogoutPage(const HostSet& hosts)
{
    const std::string css = R"CSS(
.sky{position:absolute;inset:0;background:linear-gradient(180deg,#15244d,#0b1530 60%,#060b1a)}
.sky .moon{left:120px;top:70px;width:80px;height:80px}
.skyline{position:absolute;left:0;bottom:0;width:100%;height:180px}
.card{position:absolute;left:50%;top:40%;transform:translate(-50%,-50%);width:440px;
 padding:28px 32px;text-align:center;border-radius:8px;background:rgba(6,11,26,.78);
 border:1px solid rgba(216,180,90,.5);box-shadow:0 12px 40px rgba(0,0,0,.5)}
.card h1{margin:0 0 10px;font-size:30px}
.card p{margin:12px 0 0;color:var(--muted)}
)CSS";
    std::string body = "<div class=\"sky\"><div class=\"stars\"></div><div class=\"moon\"></div>";
    body += SkylineSvg;
    body += "<div class=\"card\"><h1 class=\"brand\">Signed out</h1><div class=\"rule\"></div>"
            "<p>You have left the realm of Velmora. Your session is closed.</p>"
            "<p><a href=\"" +
            HtmlEscape(hosts.Url(hosts.portalPort)) + std::string(LoginPath) +
            "\">Return to the gates</a></p></div></div>";
    return Page("Velmora - Signed out", css, body);
}

std::string GamePage(const HostSet& hosts, std::string_view serverKey, std::string_view user)
{
    const Realm* realm = FindRealm(serverKey);
    const std::string realmName = realm               ? std::string(realm->name)
                                  : serverKey.empty() ? std::string("none chosen")
                                                      : std::string(serverKey);
    const std::string hero = user.empty() ? std::string("unknown traveller") : std::string(user);
    const std::string css = R"CSS(
.scene{position:absolute;inset:0;overflow:hidden;
 background:linear-gradient(180deg,#0d1836 0%,#1b2d5e 45%,#3a3c6a 70%,#1a1630 100%)}
.scene .moon{right:160px;top:90px;width:110px;height:110px}
.scene .skyline{position:absolute;left:0;bottom:0;width:100%;height:260px}
.fog{position:absolute;left:-10%;right:-10%;bottom:0;height:160px;
 background:radial-gradient(ellipse at 50% 100%,rgba(180,190,230,.25),transparent 70%);
 animation:drift 12s ease-in-out infinite alternate}
@keyframes drift{from{transform:translateX(-30px)}to{transform:translateX(30px)}}
.hud{position:absolute;left:0;right:0;top:0;height:48px;display:flex;align-items:center;
 gap:28px;padding:0 20px;background:linear-gradient(180deg,rgba(6,11,26,.92),rgba(6,11,26,.6));
 border-bottom:1px solid rgba(216,180,90,.5)}
.hud .brand{font-size:22px}
.hud .field{font-size:14px;color:var(--muted)}
.hud .field b{color:#fff;font-weight:normal}
.banner{position:absolute;left:0;right:0;top:200px;text-align:center}
.banner h1{margin:0;font-size:44px;letter-spacing:.12em}
.banner p{margin:10px 0 0;font-size:17px;color:var(--ink);font-style:italic}
.cookie{position:absolute;left:20px;bottom:20px;padding:10px 14px;border-radius:6px;
 background:rgba(6,11,26,.8);border:1px solid rgba(216,180,90,.45);font:13px monospace}
.cookie .dot{display:inline-block;width:10px;height:10px;border-radius:50%;margin-right:8px;
 background:#d86a4a;vertical-align:middle}
.cookie.set .dot{background:#6fbf73;box-shadow:0 0 8px #6fbf73}
.log{position:absolute;right:20px;bottom:20px;width:300px;padding:10px 14px;border-radius:6px;
 background:rgba(6,11,26,.8);border:1px solid rgba(216,180,90,.45);font-size:13px}
.log h3{margin:0 0 6px;font-size:13px;color:var(--gold-hi);letter-spacing:.1em}
.log li{margin:2px 0;color:var(--muted)}
.log ul{margin:0;padding-left:18px}
#fullscreen,.dl{position:fixed;left:10px;width:140px;z-index:5;border-radius:4px;
 font:13px Georgia,serif;border:1px solid #8a6d2f}
#fullscreen{top:10px;height:40px;color:#1b1305;cursor:pointer;
 background:linear-gradient(180deg,#f3dc9a,#c99b3c)}
.dl{display:block;height:30px;line-height:28px;text-align:center;text-decoration:none;
 background:rgba(6,11,26,.85)}
#download{top:60px}
#download-broken{top:100px}
)CSS";
    std::string body = "<div class=\"scene\" id=\"scene\" data-server=\"" + HtmlEscape(serverKey) +
                       "\" data-user=\"" + HtmlEscape(user) + "\">";
    body += "<div class=\"stars\"></div><div class=\"moon\"></div><div class=\"fog\"></div>";
    body += SkylineSvg;
    body += "<div class=\"hud\"><span class=\"brand\">Velmora</span>"
            "<span class=\"field\">Realm: <b id=\"realm\">" +
            HtmlEscape(realmName) + "</b></span><span class=\"field\">Hero: <b id=\"hero\">" +
            HtmlEscape(hero) + "</b></span></div>";
    if (serverKey.empty()) {
        body += "<div class=\"banner\"><h1 class=\"brand\">Welcome to Velmora</h1>"
                "<p>Choose a realm at the gates to begin your journey.</p></div>";
    } else {
        body += "<div class=\"banner\"><h1 class=\"brand\">The gates of " + HtmlEscape(realmName) +
                " stand open</h1><p>Welcome, " + HtmlEscape(hero) +
                ". The night is young.</p></div>";
    }
    body += "<div class=\"cookie\" id=\"cookie\"><span class=\"dot\"></span>"
            "<span id=\"cookie-state\">korvel=1 not set</span></div>";
    body += "<div class=\"log\"><h3>QUEST LOG</h3><ul><li>Speak with the moon-warden</li>"
            "<li>Gather three starlit herbs</li><li>Visit the <a href=\"" +
            HtmlEscape(hosts.Url(hosts.forumPort)) + "/\">adventurers' hall</a></li></ul></div>";
    body += "</div>";
    // Fixed in the top-left corner of the page, over the scene: the full-screen button at
    // (10, 10) 140 x 40, the reward download at (10, 60) and the broken one at (10, 100),
    // both 140 x 30.
    body += "<button id=\"fullscreen\">Full screen</button>";
    body += "<a id=\"download\" class=\"dl\" href=\"" + std::string(RewardPath) +
            "\">Download reward</a>";
    body += "<a id=\"download-broken\" class=\"dl\" href=\"" + std::string(BrokenRewardPath) +
            "\">Download (broken)</a>";
    body += "<audio id=\"music\" autoplay loop src=\"" + std::string(MusicPath) + "\"></audio>";
    // The client sets its cookie once the page has loaded, so keep looking.
    const std::string script = R"JS(
function showCookie(){
 var set=(';'+document.cookie.replace(/\s/g,'')+';').indexOf(';korvel=1;')>=0;
 document.getElementById('cookie').className='cookie'+(set?' set':'');
 document.getElementById('cookie-state').textContent='korvel=1 '+(set?'present':'not set');
}
showCookie();setInterval(showCookie,500);
document.getElementById('fullscreen').addEventListener('click',function(){
 var asked=document.documentElement.requestFullscreen();
 if(asked&&asked.catch)asked.catch(function(){});
});
)JS";
    // The pack loads last: the page works while it comes, and its load ends when it is in.
    return Page("Velmora - " + realmName, css, body, script,
                "<script src=\"" + std::string(PackPath) + "\"></script>");
}

std::string CanvasPage()
{
    return R"HTML(<!doctype html><html><head><meta charset="utf-8"><title>Canvas</title>
<style>html,body{margin:0;height:100%;overflow:hidden;background:#0d1836}
canvas{display:block;width:100%;height:100%}</style></head><body><canvas id="c"></canvas><script>
var c=document.getElementById('c'),g=c.getContext('2d'),frames=0,since=0;window.fps=0;
function draw(t){
 if(c.width!==innerWidth||c.height!==innerHeight){c.width=innerWidth;c.height=innerHeight;}
 if(!since)since=t;
 if(t-since>=1000){window.fps=Math.round(frames*1000/(t-since));frames=0;since=t;}
 ++frames;
 g.fillStyle='#0d1836';g.fillRect(0,0,c.width,c.height);
 for(var i=0;i<200;++i){
  var a=t/1000+i*0.7,x=c.width/2+Math.cos(a*0.9+i)*c.width*0.4,y=c.height/2+Math.sin(a*1.3)*c.height*0.4;
  g.fillStyle='hsl('+((i*7+t/20)%360)+',70%,60%)';g.beginPath();g.arc(x,y,6+i%10,0,7);g.fill();
 }
 requestAnimationFrame(draw);
}
requestAnimationFrame(draw);
</script></body></html>)HTML";
}

std::string HostilePage()
{
    return R"HTML(<!doctype html><html><head><meta charset="utf-8"><title>Hostile page</title>
<style>html,body{margin:0;height:100%;background:#2a1020;color:#f0d0d0;font:14px sans-serif}
#pad{position:fixed;inset:0;display:flex;align-items:center;justify-content:center}</style>
</head><body><div id="pad">hostile page</div><script>
// What one press on the pad does; taken once.
window.onPress = null;
window.presses = 0;
document.addEventListener('mousedown', function () {
  window.presses++;
  var run = window.onPress;
  window.onPress = null;
  if (run) run();
}, true);
window.go = function (address) { location.href = address; };
// Asks for n windows.
window.openPopups = function (n) {
  for (var i = 0; i < n; i++) window.open('/hostile?popup=' + Math.random(), 'p' + Math.random());
};
window.locks = 0;
window.lockErrors = 0;
document.addEventListener('pointerlockchange', function () {
  if (document.pointerLockElement) window.locks++;
});
document.addEventListener('pointerlockerror', function () { window.lockErrors++; });
window.tryLock = function () {
  var asked = document.body.requestPointerLock();
  if (asked && asked.catch) asked.catch(function () {});
};
window.locked = function () { return !!document.pointerLockElement; };
// n alerts in a row, counted as each returns.
window.alerts = 0;
window.dialogLoop = function (n) {
  setTimeout(function () {
    for (var i = 0; i < n; i++) { alert('alert ' + (i + 1) + ' of ' + n); window.alerts++; }
  }, 0);
};
// Reloads itself n times, with an alert before each reload.
window.reloadLoop = function (n) { sessionStorage.reloads = n; location.reload(); };
if (+sessionStorage.reloads > 0) {
  setTimeout(function () {
    sessionStorage.reloads = +sessionStorage.reloads - 1;
    alert('reloads left: ' + sessionStorage.reloads);
    location.reload();
  }, 0);
}
// Asks to stay when left, and fetches its heartbeat every 200 ms.
window.clingOn = function () {
  window.addEventListener('beforeunload', function (e) { e.preventDefault(); e.returnValue = 'stay'; });
  setInterval(function () { fetch('/hostile/beat').catch(function () {}); }, 200);
};
</script></body></html>)HTML";
}

std::string HostileAdPage()
{
    return R"HTML(<!doctype html><html><head><meta charset="utf-8"><title>Ad</title></head>
<body style="margin:0;background:#f0c020;height:100vh;font:20px sans-serif">BUY NOW<script>
var q = new URLSearchParams(location.search);
document.addEventListener('mousedown', function () {
  if (q.get('top')) top.location = q.get('top');
}, true);
if (q.get('self')) setInterval(function () { location.href = q.get('self'); }, 300);
</script></body></html>)HTML";
}

std::string ForumPage(const HostSet& hosts)
{
    const std::string css = R"CSS(
html,body{overflow:auto}
.top{padding:18px 28px;background:linear-gradient(180deg,#15244d,#0b1530);
 border-bottom:1px solid rgba(216,180,90,.5)}
.top h1{margin:0;font-size:26px}
.top p{margin:4px 0 0;color:var(--muted);font-size:13px}
table{margin:20px 28px;width:calc(100% - 56px);border-collapse:collapse;font-size:14px}
th{text-align:left;padding:8px 10px;color:var(--gold-hi);border-bottom:1px solid #8a6d2f;
 font-weight:normal;letter-spacing:.08em}
td{padding:10px;border-bottom:1px solid #1c2747}
tr:hover td{background:#0d1a3a}
td.n{text-align:right;color:var(--muted);width:110px;white-space:nowrap}
th{white-space:nowrap}
td .by{display:block;font-size:12px;color:var(--muted)}
)CSS";
    struct Thread {
        std::string_view title, author;
        int replies, views;
        std::string_view last;
    };
    static const Thread threads[] = {
        {"Patch notes: the Siege of Moonfall returns", "Warden Elsbeth", 212, 9341, "2 min ago"},
        {"Best route for starlit herbs?", "Aldric", 37, 812, "14 min ago"},
        {"Guild Silver Lantern is recruiting", "Mirael", 58, 1490, "1 h ago"},
        {"Night Market prices, a spreadsheet", "Tobin Ashfoot", 19, 655, "3 h ago"},
        {"Dragon Hunt: how to survive the second flight", "Kestrel", 101, 4022, "yesterday"},
    };
    std::string body = "<div class=\"top\"><h1 class=\"brand\">Velmora Forum</h1>"
                       "<p>The adventurers' hall &middot; <a href=\"" +
                       HtmlEscape(hosts.Url(hosts.gamePort)) +
                       "/\">back to the realm</a></p></div><table><tr><th>Topic</th>"
                       "<th>Replies</th><th>Views</th><th>Last post</th></tr>";
    for (const Thread& t : threads) {
        body += "<tr><td>" + HtmlEscape(t.title) + "<span class=\"by\">by " + HtmlEscape(t.author) +
                "</span></td><td class=\"n\">" + std::to_string(t.replies) +
                "</td><td class=\"n\">" + std::to_string(t.views) + "</td><td class=\"n\">" +
                HtmlEscape(t.last) + "</td></tr>";
    }
    body += "</table>";
    return Page("Velmora Forum", css, body);
}

std::string NotFoundPage(std::string_view path)
{
    const std::string css = ".nf{padding:40px;text-align:center}.nf p{color:var(--muted)}";
    return Page("Not found", css,
                "<div class=\"nf\"><h1 class=\"brand\">Lost in the mist</h1><p>Nothing lives at " +
                    HtmlEscape(path) + "</p></div>");
}

std::string SessionCookie(std::string_view sid)
{
    return "session=" + std::string(sid) + "; Path=" + std::string(LoginPath) + "; HttpOnly";
}

std::string RememberCookie(std::string_view user)
{
    return "remember=" + QueryValueEncode(user) + "; Max-Age=" + std::to_string(RememberSeconds) +
           "; Path=/";
}

std::string ForgetRememberCookie()
{
    return "remember=; Max-Age=0; Path=/";
}

std::string RememberedHero(std::string_view cookieHeader)
{
    return CleanUserName(DecodeRequestPath(CookieValue(cookieHeader, "remember")));
}

std::string PackScript(std::size_t bytes)
{
    const std::string head = "/* Velmora asset pack: art and sound tables of the realm.\n";
    const std::string tail = "\n*/\nwindow.packLoaded = true;\n";
    if (bytes < head.size() + tail.size()) bytes = head.size() + tail.size();
    std::string script = head;
    script.reserve(bytes);
    // Filler lines of letters: nothing in them can end the comment early.
    const std::size_t fillEnd = bytes - tail.size();
    for (std::size_t i = 0; script.size() < fillEnd; ++i) {
        script += (script.size() % 64 == 63) ? '\n' : static_cast<char>('a' + (i * 31 + 7) % 26);
    }
    script += tail;
    return script;
}

std::string StrongEtag(std::string_view body)
{
    // FNV-1a, 64 bits, with the length: enough to tell the pack's sizes and contents apart.
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : body) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char text[48];
    std::snprintf(text, sizeof text, "\"%zx-%016llx\"", body.size(),
                  static_cast<unsigned long long>(hash));
    return text;
}

std::string MusicWav()
{
    constexpr std::uint32_t rate = 8000, samples = 8000;
    constexpr std::uint32_t dataBytes = samples * 2;
    std::string wav;
    auto put32 = [&wav](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) wav += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    auto put16 = [&wav](std::uint32_t v) {
        wav += static_cast<char>(v & 0xff);
        wav += static_cast<char>((v >> 8) & 0xff);
    };
    wav += "RIFF";
    put32(36 + dataBytes);
    wav += "WAVEfmt ";
    put32(16);
    put16(1); // PCM
    put16(1); // mono
    put32(rate);
    put32(rate * 2);
    put16(2);
    put16(16);
    wav += "data";
    put32(dataBytes);
    // A quiet tone that fades in and out, so the loop does not click.
    constexpr double pi = 3.14159265358979323846;
    constexpr double amplitude = 2000, fade = 400;
    for (std::uint32_t i = 0; i < samples; ++i) {
        const double edge = std::min({1.0, i / fade, (samples - 1 - i) / fade});
        const double value = amplitude * edge * std::sin(2 * pi * 440 * i / rate);
        put16(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(value))));
    }
    return wav;
}

std::string RewardData(std::size_t bytes)
{
    std::string data(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) data[i] = static_cast<char>((i * 31 + 7) & 0xff);
    return data;
}

std::string StatsText(std::uint64_t requests, std::uint64_t full, std::uint64_t notModified)
{
    return "pack.js requests=" + std::to_string(requests) + " 200=" + std::to_string(full) +
           " 304=" + std::to_string(notModified);
}

std::string TaskFeedJson(const std::tm& now, const HostSet& hosts)
{
    const int minute = now.tm_hour * 60 + now.tm_min;
    struct Slot {
        int number, start;
    };
    const Slot slots[] = {
        {1, minute + UpcomingStartsIn},
        {2, minute - RunningStartedAgo},
        {3, minute + LaterStartsIn},
    };
    // The server's clock reads whole minutes, like the activity times: the upcoming
    // activity is then exactly ten minutes away, and a reminder counts down from 10:00.
    char serverTime[96];
    std::snprintf(serverTime, sizeof serverTime, "%04d-%02d-%02d %02d:%02d:00", now.tm_year + 1900,
                  now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min);
    const std::string tipsBase = hosts.Url(hosts.portalPort) + std::string(TaskTipsPath);
    std::string json = "{\"server_time\":" + JsonString(serverTime) + ",\"activities\":[";
    bool first = true;
    for (const Slot& slot : slots) {
        if (!first) json += ",";
        first = false;
        json +=
            "{\"activity_iNo\":" + JsonString(std::to_string(slot.number)) +
            ",\"activity_sName\":" + JsonString(ActivityFor(slot.number).name) +
            ",\"activity_start\":" + JsonString(ClockText(slot.start)) +
            ",\"activity_over\":" + JsonString(ClockText(slot.start + ActivityLength)) +
            ",\"display_sUrl\":" + JsonString(tipsBase + "?tid=" + std::to_string(slot.number)) +
            "}";
    }
    json += "]}";
    return json;
}

ManifestVersion NextVersion(ManifestVersion current)
{
    if (current.minor == UINT32_MAX) return {current.major + 1, 0};
    return {current.major, current.minor + 1};
}

std::string UpdateManifestXml(ManifestVersion version, const std::optional<ManifestItem>& item)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<config>\n\t<game major=\"" +
                      std::to_string(version.major) + "\" minor=\"" +
                      std::to_string(version.minor) + "\">\n";
    if (item) {
        xml += "\t\t<item name=\"main server\" host=\"" + HtmlEscape(item->host) + "\" path=\"" +
               HtmlEscape(item->path) + "\" file=\"" + HtmlEscape(item->file) + "\"/>\n";
    }
    xml += "\t</game>\n</config>\n";
    return xml;
}

std::string StoragePage()
{
    return R"HTML(<!doctype html><html><head><meta charset="utf-8"><title>Storage page</title>
</head><body><p id="state">storage page</p><script>
// One MiB of bytes nothing can compress.
function mib() {
  var bytes = new Uint8Array(1 << 20);
  for (var at = 0; at < bytes.length; at += 65536) crypto.getRandomValues(bytes.subarray(at, at + 65536));
  return new Blob([bytes]);
}
function say(text) { document.getElementById('state').textContent = text; document.title = text; }
function database() {
  return new Promise(function (done, failed) {
    var open = indexedDB.open('fill', 1);
    open.onupgradeneeded = function () { open.result.createObjectStore('blobs'); };
    open.onsuccess = function () { done(open.result); };
    open.onerror = function () { failed(String(open.error)); };
  });
}
// Each helper answers how many MiB (or items) it stored, or the error that stopped it.
window.fillDatabase = function (n, paceMs) {
  return database().then(function (db) {
    var stored = 0;
    function next() {
      if (stored >= n) return Promise.resolve(stored);
      return new Promise(function (wait) { setTimeout(wait, paceMs || 0); }).then(function () {
       return new Promise(function (done, failed) {
        var put = db.transaction('blobs', 'readwrite');
        put.objectStore('blobs').put(mib(), 'b' + stored + '-' + Math.random());
        put.oncomplete = function () { stored++; say('stored ' + stored); done(); };
        put.onerror = put.onabort = function () { failed(String(put.error)); };
      }); }).then(next);
    }
    return next();
  }).catch(function (e) { return String(e); });
};
window.fillCache = function (n) {
  return caches.open('fill').then(function (cache) {
    var stored = 0;
    function next() {
      if (stored >= n) return stored;
      return cache.put('/storage/c' + stored, new Response(mib())).then(function () { stored++; return next(); });
    }
    return next();
  }).catch(function (e) { return String(e); });
};
window.fillLocal = function () {
  try { localStorage.setItem('fill', 'x'.repeat(1000)); return Promise.resolve(1); }
  catch (e) { return Promise.resolve(String(e)); }
};
window.registerWorker = function () {
  return navigator.serviceWorker.register('/storage/worker.js')
    .then(function () { return 1; }, function (e) { return String(e); });
};
window.fillSession = function () {
  try { sessionStorage.setItem('fill', 'x'); return Promise.resolve(1); }
  catch (e) { return Promise.resolve(String(e)); }
};
window.fillFileSystem = function (n) {
  return new Promise(function (done) {
    if (!window.webkitRequestFileSystem) return done('no file system');
    webkitRequestFileSystem(window.TEMPORARY, n << 20, function (fs) {
      fs.root.getFile('fill', {create: true}, function (entry) {
        entry.createWriter(function (writer) {
          var parts = [];
          for (var i = 0; i < n; i++) parts.push(mib());
          writer.onwriteend = function () { done(n); };
          writer.onerror = function (e) { done(String(writer.error)); };
          writer.write(new Blob(parts));
        }, function (e) { done(String(e)); });
      }, function (e) { done(String(e)); });
    }, function (e) { done(String(e.name || e)); });
  });
};
window.takeLock = function () {
  return navigator.locks.request('fill', function () { return 1; })
    .catch(function (e) { return String(e); });
};
window.setCookie = function () { document.cookie = 'fill=1; max-age=3600'; return document.cookie; };
var query = new URLSearchParams(location.search);
if (query.get('frame')) {
  var frame = document.createElement('iframe');
  frame.src = query.get('frame');
  document.body.appendChild(frame);
}
// "?report": every helper once, their answers to the page that shows this one in a frame.
window.addEventListener('message', function (e) { window.frameReport = e.data; });
if (query.has('report'))
  Promise.all([window.fillDatabase(1), window.fillCache(1), window.fillLocal(),
               window.registerWorker(), Promise.resolve(window.setCookie()),
               window.fillSession(), window.fillFileSystem(1), window.takeLock()])
    .then(function (r) { parent.postMessage(JSON.stringify(r), '*'); });
if (query.get('fill'))
  window.fillDatabase(Number(query.get('fill')), Number(query.get('pace'))).then(function (n) { say('filled ' + n); });
</script></body></html>
)HTML";
}

std::string StorageWorker()
{
    return "self.addEventListener('fetch', function () {});\n";
}

} // namespace qev::portal
