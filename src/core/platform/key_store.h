#pragma once
// The engine's key-value databases (LevelDB folders) inside the web profile, read and pruned
// while the engine is not running. The folder is reached from a PrivateFolder one real
// folder at a time (never a link); the database library then opens it by that path, which
// only this user can change.
#include <functional>
#include <string>
#include <string_view>

namespace qev {

class PrivateFolder;

using KeyVisitor = std::function<void(std::string_view key, std::string_view value)>;
using KeyFilter = std::function<bool(std::string_view key, std::string_view value)>;

// Calls visit for every entry of the database in the folder at relative inside root. False
// when there is none there, or it cannot be opened (Windows: always false).
bool ReadKeyStore(const PrivateFolder& root, const std::string& relative, const KeyVisitor& visit);
// Removes every entry for which drop holds, in one write: how many went, -1 when the
// database cannot be opened (nothing changed). Windows: -1.
int PruneKeyStore(const PrivateFolder& root, const std::string& relative, const KeyFilter& drop);

} // namespace qev
