#pragma once
// Reading and pruning a tree of the client's own files (the web profile) inside a folder
// that PrivateFolder's checked walk opened. Every step goes from that folder's descriptor
// one plain name at a time: a link is never followed (it is counted as nothing and removed
// as itself), and nothing on another file system is reached, so nothing outside the folder
// is ever read, measured or removed.
#include <cstdint>
#include <string>
#include <vector>

namespace qev {

class PrivateFolder;

struct TreeEntry {
    std::string name;
    bool folder = false;    // a real folder (never a link to one)
    std::int64_t bytes = 0; // its size on disk; a folder's: everything below it
};

// The entries of the folder at relative inside root ('/'-separated plain names; "" is root
// itself), with their sizes. False when that is not a folder reached as above (entries then
// empty). Windows: false (the profile is not measured there).
bool ListTree(const PrivateFolder& root, const std::string& relative,
              std::vector<TreeEntry>& entries);
// The first maxBytes of the regular file at relative; "" when it is not one.
std::string ReadTreeFile(const PrivateFolder& root, const std::string& relative,
                         std::size_t maxBytes);
// Removes the entry at relative: a file or a link as itself, a folder with everything in
// it. False when something stayed. Windows: false, nothing removed.
bool RemoveTree(const PrivateFolder& root, const std::string& relative);

} // namespace qev
