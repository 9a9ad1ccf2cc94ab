#pragma once
// Rules the client's web pages follow that need no web engine: which addresses the client
// opens itself, how far a page zooms and where that is remembered, and how a download is
// named and where it is saved.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace qev {

// An address that comes from outside data (a feed, a page's hand-over, a pop-up) and that
// the client loads itself: "http://" or "https://" (scheme case ignored) followed by a
// host. Everything else (file:, data:, javascript:, custom schemes, blanks in front) is not.
bool IsWebAddress(std::string_view address);

// The address as it may appear in a log line: bytes outside printable ASCII as \xNN, at
// most 200 bytes kept.
std::string AddressForLog(std::string_view address);

// Page zoom, in percent of the page's own size.
inline constexpr int MinZoomPercent = 25;
inline constexpr int MaxZoomPercent = 500;
inline constexpr int DefaultZoomPercent = 100;

// The step from percent: direction > 0 the next larger, < 0 the next smaller of the usual
// browser steps (25, 33, 50, 67, 75, 80, 90, 100, 110, 125, 150, 175, 200, 250, 300, 400,
// 500), 0 back to 100. A value between steps moves to the neighbouring step; the ends stay.
int NextZoomPercent(int percent, int direction);

// Zoom remembered per host, kept in a small ini file:
//   [zoom]
//   host=percent
// Hosts compare without regard to case. Lines that do not parse are dropped on reading;
// values are clamped to MinZoomPercent..MaxZoomPercent; 100 % is not stored.
class ZoomMemory {
public:
    void Read(std::string_view fileText);
    std::string Text() const;

    int PercentFor(std::string_view host) const;
    // False when nothing changed (the host already had that zoom).
    bool Set(std::string_view host, int percent);

private:
    std::map<std::string, int> percents_;
};

// The name of the n-th copy of a download: n == 0 the name itself, otherwise " (n)" before
// the extension ("reward.bin" -> "reward (1).bin", "notes" -> "notes (2)"; a name that
// starts with its only dot, ".profile", keeps it in front: ".profile (1)").
std::string NumberedFileName(std::string_view name, int n);

// The longest name a download is saved under, in bytes of UTF-8. Room is left below the
// file system's 255 for a copy's " (n)" and the hidden name the bytes arrive under.
inline constexpr std::size_t MaxDownloadNameBytes = 200;

// True for the characters a saved name never holds: the C0 and C1 controls and DEL, every
// Default_Ignorable_Code_Point (bidi controls, zero-width characters, the byte-order mark,
// variation selectors, Hangul fillers, tags) and the other format characters, the blanks
// other than U+0020 (U+00A0, U+2000..U+200A, U+3000, the blank braille pattern U+2800 ...),
// the line and paragraph separators, and '/', '\\' and ':'.
bool IsReplacedInFileName(char32_t c);

// The name a download is saved under: the one the page suggested, made safe in this order:
// - only the part after the last '/' or '\\' is kept;
// - every character IsReplacedInFileName names, and every byte that is not UTF-8, becomes
//   '_';
// - leading dots and spaces go (".profile" -> "profile");
// - a name longer than MaxDownloadNameBytes is cut at a character boundary, keeping its
//   extension (the last dot on) when that is at most 32 bytes;
// - nothing left gives "download";
// - a name ending in ".desktop" or ".kdelnk" (any case: the desktop's launcher endings)
//   gets ".download" after it, still within MaxDownloadNameBytes, so a file manager never
//   takes it for a launcher.
std::string SafeDownloadName(std::string_view suggested);

// The folder downloads are saved in: userFolder (the desktop's download folder), made
// when missing. When userFolder is empty, is home itself (links, ".", ".." and a trailing
// separator resolved) or cannot be made, it is home's "Downloads" instead, made when
// missing, so a download never lands among home's start-up files. Empty when neither
// can be had.
std::string ChooseDownloadFolder(const std::string& userFolder, const std::string& home);

} // namespace qev
