// The update keys a build may trust: the build folder's own pair agrees with the key built
// into the client, and every secret the repository holds, or ever held, has its public key
// on the list that configure refuses (cmake/committed_update_keys.txt).
#include "core/net/update_statement.h"
#include "test_keys.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

namespace qev {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Standard output of a shell command and its exit status (-1 when it did not run).
int Run(const std::string& command, std::string& output)
{
    output.clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

constexpr std::string_view SecretLinePattern = "qev-update-secret-key 1 [A-Za-z0-9+/]{43}=";
constexpr std::string_view TestSeedCallPattern = "TestSeed\\([0-9]+\\)";

// Public key -> where its secret was seen.
using FoundKeys = std::map<std::string, std::set<std::string>>;

void Found(FoundKeys& found, const SecretSeed& seed, const std::string& where)
{
    found[EncodePublicKey(PublicKeyOf(seed))].insert(where);
}

// Every secret key line (as the client's parser takes it) and every TestSeed(N) call in text.
void ScanText(std::string_view text, const std::string& where, FoundKeys& found)
{
    const std::string_view line = SecretKeyLineStart;
    for (auto at = text.find(line); at != std::string_view::npos; at = text.find(line, at + 1)) {
        const std::string keyLine(text.substr(at, line.size() + 44));
        if (const auto seed = ParseSecretKeyFile(keyLine + "\n")) Found(found, *seed, where);
    }
    const std::string_view call = "TestSeed(";
    for (auto at = text.find(call); at != std::string_view::npos; at = text.find(call, at + 1)) {
        std::size_t end = at + call.size();
        unsigned value = 0;
        while (end < text.size() && end - at - call.size() < 4 && text[end] >= '0' &&
               text[end] <= '9')
            value = value * 10 + static_cast<unsigned>(text[end++] - '0');
        if (end > at + call.size() && end < text.size() && text[end] == ')')
            Found(found, test::TestSeed(static_cast<unsigned char>(value)),
                  where + ": " + std::string(text.substr(at, end + 1 - at)));
    }
}

// The files of the source tree as they are now, without .git and without build trees (any
// folder holding a CMakeCache.txt, where a build keeps its own secret key).
void ScanWorkingTree(const fs::path& root, FoundKeys& found)
{
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::file_status status = it->symlink_status(ec);
        if (fs::is_directory(status)) {
            if (it->path().filename() == ".git" || fs::exists(it->path() / "CMakeCache.txt"))
                it.disable_recursion_pending();
            continue;
        }
        if (fs::is_regular_file(status) && it->file_size(ec) < (8u << 20))
            ScanText(ReadText(it->path()), fs::relative(it->path(), root).string(), found);
    }
    ASSERT_FALSE(ec) << root << ": " << ec.message();
}

// Every file of every commit, through git; false when root is not a git checkout.
bool ScanHistory(const fs::path& root, FoundKeys& found)
{
    const std::string git = "git -C " + ShellQuoted(root.string());
    std::string output;
    if (Run(git + " rev-parse --is-inside-work-tree 2>/dev/null", output) != 0 ||
        output != "true\n")
        return false;
    const std::string command = git + " grep -h -I -o -E -e '" + std::string(SecretLinePattern) +
                                "' -e '" + std::string(TestSeedCallPattern) + "' $(" + git +
                                " rev-list --all)";
    const int status = Run(command, output);
    EXPECT_TRUE(status == 0 || status == 1) << command << " exited with " << status;
    ScanText(output, "git history", found);
    return true;
}

TEST(UpdateKeys, BuildFoldersOwnPairMatchesTheBuiltInKey)
{
    const std::string secretFile = QEV_BUILD_SECRET_KEY_FILE;
    if (secretFile.empty()) GTEST_SKIP() << "this build was given the operator's key";
    struct stat info {};
    ASSERT_EQ(stat(secretFile.c_str(), &info), 0) << secretFile;
    EXPECT_EQ(info.st_mode & 07777, 0600u) << secretFile;
    // The pair was made by openssl at configure time; the client derives with libsodium.
    const auto seed = ParseSecretKeyFile(ReadText(secretFile));
    ASSERT_TRUE(seed) << secretFile;
    EXPECT_EQ(EncodePublicKey(PublicKeyOf(*seed)), QEV_UPDATE_PUBLIC_KEY);
}

TEST(UpdateKeys, EverySecretInTheRepositoryIsRefused)
{
    std::set<std::string> refused;
    std::istringstream list(ReadText(QEV_COMMITTED_UPDATE_KEYS_FILE));
    for (std::string line; std::getline(list, line);)
        if (!line.empty() && line[0] != '#') refused.insert(line.substr(0, line.find(' ')));
    ASSERT_FALSE(refused.empty()) << QEV_COMMITTED_UPDATE_KEYS_FILE;

    FoundKeys found;
    for (unsigned char first : test::UsedTestSeedStarts)
        Found(found, test::TestSeed(first), "TestSeed(" + std::to_string(first) + ")");
    Found(found, test::FuzzSeed(), "FuzzSeed()");
    ScanWorkingTree(QEV_SOURCE_DIR, found);
    const bool history = ScanHistory(QEV_SOURCE_DIR, found);
    if (!history)
        std::printf("%s is not a git checkout: scanned its working tree only\n", QEV_SOURCE_DIR);

    // The scans work: the fuzz corpus's key file is in the working tree, and the former demo
    // key's secret only in the history.
    const std::string corpusKey = EncodePublicKey(PublicKeyOf(test::FuzzSeed()));
    EXPECT_TRUE(found[corpusKey].count("tests/fuzz/corpus/update_statement/key"));
    if (history) {
        EXPECT_TRUE(found["36KzXt4AVKjWizZcBruKwN9QqNI28JreWzt7fv3swQE="].count("git history"));
    }

    for (const auto& [key, places] : found) {
        for (const auto& where : places) {
            EXPECT_TRUE(refused.count(key))
                << key << " (" << where << ") is not on " << QEV_COMMITTED_UPDATE_KEYS_FILE;
        }
    }
}

} // namespace
} // namespace qev
