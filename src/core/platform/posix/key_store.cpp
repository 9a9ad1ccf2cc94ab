#include "core/platform/key_store.h"

#include <leveldb/db.h>
#include <leveldb/write_batch.h>
#include <sys/stat.h>

#include <memory>

#include "core/platform/private_folder.h"

namespace qev {
namespace {

// root's path and relative, when every part of relative is a real folder (no link), and
// the last holds a database; "" otherwise.
std::string DatabasePath(const PrivateFolder& root, const std::string& relative)
{
    std::string path = root.Path();
    for (std::size_t from = 0; from <= relative.size();) {
        std::size_t to = relative.find('/', from);
        if (to == std::string::npos) to = relative.size();
        const std::string part = relative.substr(from, to - from);
        if (part.empty() || part == "." || part == "..") return {};
        path += "/" + part;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
        from = to + 1;
    }
    struct stat current {};
    if (lstat((path + "/CURRENT").c_str(), &current) != 0 || !S_ISREG(current.st_mode)) return {};
    return path;
}

std::unique_ptr<leveldb::DB> OpenStore(const PrivateFolder& root, const std::string& relative)
{
    const std::string path = DatabasePath(root, relative);
    if (path.empty()) return nullptr;
    leveldb::Options options;
    options.create_if_missing = false;
    options.paranoid_checks = true;
    leveldb::DB* db = nullptr;
    if (!leveldb::DB::Open(options, path, &db).ok()) return nullptr;
    return std::unique_ptr<leveldb::DB>(db);
}

} // namespace

bool ReadKeyStore(const PrivateFolder& root, const std::string& relative, const KeyVisitor& visit)
{
    const auto db = OpenStore(root, relative);
    if (!db) return false;
    std::unique_ptr<leveldb::Iterator> it(db->NewIterator(leveldb::ReadOptions()));
    for (it->SeekToFirst(); it->Valid(); it->Next())
        visit(std::string_view(it->key().data(), it->key().size()),
              std::string_view(it->value().data(), it->value().size()));
    return it->status().ok();
}

int PruneKeyStore(const PrivateFolder& root, const std::string& relative, const KeyFilter& drop)
{
    const auto db = OpenStore(root, relative);
    if (!db) return -1;
    leveldb::WriteBatch batch;
    int removed = 0;
    {
        std::unique_ptr<leveldb::Iterator> it(db->NewIterator(leveldb::ReadOptions()));
        for (it->SeekToFirst(); it->Valid(); it->Next()) {
            if (!drop(std::string_view(it->key().data(), it->key().size()),
                      std::string_view(it->value().data(), it->value().size())))
                continue;
            batch.Delete(it->key());
            ++removed;
        }
        if (!it->status().ok()) return -1;
    }
    if (removed == 0) return 0;
    leveldb::WriteOptions sync;
    sync.sync = true;
    if (!db->Write(sync, &batch).ok()) return -1;
    // What was removed leaves the files too, not only the index.
    db->CompactRange(nullptr, nullptr);
    return removed;
}

} // namespace qev
