#pragma once
// The update check's pure rules: how a source's host and path are read, and which manifest
// items a request may be aimed at. No I/O but the log; table-tested.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/layout/layout.h"

namespace qev {

// "h:p" → {"h", p}. Without a port, or with a number outside 1..65535, the port is 80;
// a colon followed by something else than digits is left in the host.
std::pair<std::string, int> SplitHostPort(std::string_view host);

// A source's host as the layout writes it: "h", "h:p", "http://h[:p]" or "https://h[:p]".
// Without a scheme it is http; without a port, 80 (443 over https); the rest as SplitHostPort.
struct SourceHost {
    bool https = false;
    std::string name;
    int port = 80;
};
SourceHost SplitSourceHost(std::string_view host);

// A source's path and file joined with exactly one '/' between them ("/a/" + "f" and
// "/a" + "f" both give "/a/f"); an empty path leaves the file as it is.
std::string JoinSourcePath(std::string_view path, std::string_view file);

// A name from outside, fit for one log line: every byte outside printable ASCII (and the
// backslash and quote) as \xNN, cut to 64 bytes without splitting an escape.
std::string LoggableName(std::string_view name);

// Why a manifest item may not be asked for, in a few words; "" when it may. The manifest
// comes over plain HTTP, so its items may name any mirror but must not aim a request at
// anything else: the item's port is the manifest source's (sourcePort), 80 or 443; its host
// is a plain name or address (no user part); its path starts with '/' and, like its file,
// holds no '?', '#', control character, escaped control byte or ".." segment.
std::string ManifestItemRefusal(const UpdateSource& item, int sourcePort);

// The items of a manifest from a source on sourcePort that a request may go to
// (ManifestItemRefusal); one log line for the others, however many there are.
std::vector<UpdateSource> UsableItems(const std::vector<UpdateSource>& items, int sourcePort);

// Where the chosen item of a manifest from the source sourceHost is fetched: an item on the
// web's https port over https, any other over its source's scheme (the item names none);
// its file escaped as one path segment. refusal says why (for the log line) when the
// package's name is unusable or longer than an installable name may be; "" otherwise.
struct ItemRequest {
    std::string host;   // "https://" + the item's host, or the host alone (plain http)
    std::string object; // the item's path and escaped file
    std::string name;   // the package's file name in the run folder
};
ItemRequest PlanItemRequest(const UpdateSource& item, std::string_view sourceHost,
                            std::string& refusal);

// The player's reason when the download folder was refused (refusal: the error's text)
// because of another user (a folder above it that others can write, or one that is not
// this user's): updates then stay off at every start until the player moves the cache. ""
// for any other failure.
std::string FolderOffReason(const std::string& refusal);

} // namespace qev
