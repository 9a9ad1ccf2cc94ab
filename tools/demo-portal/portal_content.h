#pragma once
// What the demo portal serves: its pages, the task feed and the update manifest.
// Pure text builders, so they can be checked without a socket.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/remind/task_feed.h"

namespace qev::portal {

// Fixed paths of the operator's hosts, as the client's built-in layout names them.
inline constexpr std::string_view LoginPath = "/micro2";
using qev::TaskFeedPath; // the client's own
inline constexpr std::string_view TaskTipsPath = "/micro2/TaskTips";
inline constexpr std::string_view LogoutPath = "/micro2/Logout";
inline constexpr std::string_view ReportPath = "/micro2/Report";
inline constexpr std::string_view ManifestPath = "/micro_client/mm/qev_new/update.xml";
// The layout's second source has no "/" between its path and file name.
inline constexpr std::string_view StandbyManifestPath = "/micro_client/mm/qev_newupdate2.xml";
inline constexpr std::string_view StandbyManifestPathWithSlash =
    "/micro_client/mm/qev_new/update2.xml";
inline constexpr std::string_view PackageFolder = "/micro_client/mm/qev_new/packages/";
inline constexpr std::string_view FilesFolder = "/files/";
// The game site's script pack and music, its two downloads, and the counters (any host).
inline constexpr std::string_view PackPath = "/assets/pack.js";
inline constexpr std::string_view MusicPath = "/assets/music.wav";
inline constexpr std::string_view RewardPath = "/dl/reward.bin";
inline constexpr std::string_view BrokenRewardPath = "/dl/broken.bin";
inline constexpr std::string_view StatsPath = "/stats";
// A page of the game host that behaves as a hostile page would, for the client's tests,
// the address its heartbeat fetches, and an ad a test puts in a frame of another site.
inline constexpr std::string_view HostilePath = "/hostile";
inline constexpr std::string_view HostileBeatPath = "/hostile/beat";
inline constexpr std::string_view HostileAdPath = "/hostile/ad";
// A canvas animation for the rendering benchmark.
inline constexpr std::string_view CanvasPath = "/canvas";
// A page of any host that fills the web profile (IndexedDB, the Cache API, local storage, a
// service worker) as a test asks, and the worker it registers.
inline constexpr std::string_view StoragePath = "/storage";
inline constexpr std::string_view StorageWorkerPath = "/storage/worker.js";

// The reward download's size, and where the broken one stops.
constexpr std::size_t RewardBytes = 256 * 1024;
constexpr std::size_t BrokenRewardCut = 64 * 1024;
constexpr std::size_t BytesPerMiB = 1024 * 1024;
// How long a remembered hero is kept, in seconds (30 days).
constexpr long RememberSeconds = 30L * 24 * 60 * 60;

// Longest player name kept, in characters.
constexpr std::size_t MaxUserNameChars = 24;

// Where the four hosts answer, as links on the pages must name them.
struct HostSet {
    std::string name = "127.0.0.1";
    int portalPort = 18080;
    int gamePort = 18081;
    int forumPort = 18082;
    int staticPort = 18083;

    std::string Url(int port) const { return "http://" + name + ":" + std::to_string(port); }
};

struct Realm {
    std::string_view key;    // "server" query value of the game link
    std::string_view name;   // shown, and the link's title
    std::string_view domain; // the link's domain attribute
    std::string_view state;  // crowd label
    int load;                // 0..100, drawn as a bar
};

const std::vector<Realm>& Realms();
const Realm* FindRealm(std::string_view key);

// Trims blanks, drops control characters, repairs invalid UTF-8 and keeps at most
// MaxUserNameChars characters.
std::string CleanUserName(std::string_view raw);

// A fresh session id: 16 lower-case hex digits.
std::string NewSessionId();

std::string LoginPage(std::string_view notice);
// welcomeBack: the hero came back with the remember cookie and is greeted by name.
std::string RealmListPage(const HostSet& hosts, std::string_view user, std::string_view sid,
                          bool welcomeBack = false);
std::string TaskTipsPage(int tid);
std::string LogoutPage(const HostSet& hosts);
// serverKey empty: the game site's home page.
std::string GamePage(const HostSet& hosts, std::string_view serverKey, std::string_view user);
std::string ForumPage(const HostSet& hosts);
std::string NotFoundPage(std::string_view path);
// The hostile page: a pad the whole window large whose press runs what window.onPress
// holds, and helpers a test drives (addresses, pop-ups, pointer lock, dialogs, staying).
std::string HostilePage();
// A canvas animation drawn on every frame the engine offers; window.fps holds the frames of
// the last whole second (the rendering benchmark reads it through the debugging port).
std::string CanvasPage();
// The ad: on a press it sends the page's main frame to its "top" parameter; with a "self"
// parameter it sends its own frame there every 300 ms.
std::string HostileAdPage();
// The storage page: helpers a test drives (each a promise of what it managed), and with
// "?fill=N[&pace=MS]" in its address it writes N MiB into IndexedDB on its own, one MiB at
// a time (MS apart), then says so in its title; "?frame=ADDRESS" shows ADDRESS in a frame,
// which with "?report" runs each helper once and posts the answers to this page
// (window.frameReport).
std::string StoragePage();
std::string StorageWorker();

// Cookies of the portal: the session of one sign-in (gone when the browser closes, and only
// for the portal's own pages), and the hero a player asked to be remembered.
std::string SessionCookie(std::string_view sid);
std::string RememberCookie(std::string_view user);
std::string ForgetRememberCookie();
// The remembered hero of a request's Cookie header, cleaned; empty when there is none.
std::string RememberedHero(std::string_view cookieHeader);

// A script of exactly `bytes` bytes (or its shortest form, when fewer): a long comment, then
// it sets window.packLoaded.
std::string PackScript(std::size_t bytes);
// A strong entity tag for a body: the same bytes always give the same tag.
std::string StrongEtag(std::string_view body);
// One second of a quiet 440 Hz tone: 8 kHz, 16-bit PCM, mono, as a WAV file.
std::string MusicWav();
// Byte i of the reward download is (i * 31 + 7) & 0xff.
std::string RewardData(std::size_t bytes);
std::string StatsText(std::uint64_t requests, std::uint64_t full, std::uint64_t notModified);

// The task feed for the local time `now`, whose "server_time" is `now` to the minute: one
// activity starting ten minutes later, one running, one later in the day (times clamped to
// the day).
std::string TaskFeedJson(const std::tm& now, const HostSet& hosts);

struct ManifestVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
};

// The build one above `current` (the minor word counts up, carrying into major).
ManifestVersion NextVersion(ManifestVersion current);

struct ManifestItem {
    std::string host, path, file;
};

std::string UpdateManifestXml(ManifestVersion version, const std::optional<ManifestItem>& item);

} // namespace qev::portal
