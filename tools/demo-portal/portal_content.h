#pragma once
// What the demo portal serves: its pages, the task feed and the update manifest.
// Pure text builders, so they can be checked without a socket.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qev::portal {

// Fixed paths of the operator's hosts, as the client's built-in layout names them.
inline constexpr std::string_view LoginPath = "/micro2";
inline constexpr std::string_view TaskFeedPath = "/micro2/GetTasks";
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
std::string RealmListPage(const HostSet& hosts, std::string_view user, std::string_view sid);
std::string TaskTipsPage(int tid);
std::string LogoutPage(const HostSet& hosts);
// serverKey empty: the game site's home page.
std::string GamePage(const HostSet& hosts, std::string_view serverKey, std::string_view user);
std::string ForumPage(const HostSet& hosts);
std::string NotFoundPage(std::string_view path);

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
