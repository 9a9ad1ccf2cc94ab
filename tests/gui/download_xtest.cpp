// Downloads a game page starts: only after the player's input, under a safe name, never in
// the home folder itself (the desktop's download folder is set to it here), never over a
// file of the same name, and never left as a partial file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include "core/base/log.h"
#include "fake_http_server.h"
#include "gui/browser/downloads.h"
#include "gui/game/game_view.h"

#include "gui_main.h"
#include "sandbox.h"
#include "wait_for.h"

namespace {

CWebContext* g_web = nullptr; // made in main, after the application

const char Page[] = R"HTML(<!doctype html><html><body><script>
function fetchIt(path) {
  var a = document.createElement('a'); a.href = path; document.body.appendChild(a); a.click();
}</script></body></html>)HTML";

// "/dl/<name>" is an attachment of that (percent-encoded) name; "/cut/<name>" breaks off.
qev::test::FakeReply Serve(const qev::test::FakeRequest& request)
{
    qev::test::FakeReply reply = qev::test::MakeReply(200, Page);
    reply.headers = {"Content-Type: text/html"};
    const std::size_t slash = request.target.find('/', 1);
    if (slash == std::string::npos) return reply;
    reply.headers = {"Content-Type: application/octet-stream",
                     "Content-Disposition: attachment; filename*=UTF-8''" +
                         request.target.substr(slash + 1)};
    reply.body = "bytes of " + request.target + std::string(64 * 1024, 'x');
    if (request.target.rfind("/cut/", 0) == 0) reply.closeAfter = 1000;
    return reply;
}

// The files in path, hidden ones too.
QString Files(const QString& path)
{
    return QDir(path).entryList(QDir::Files | QDir::Hidden, QDir::Name).join(QLatin1Char('|'));
}

TEST(Downloads, OnlyAfterInputUnderASafeNameOutsideTheHomeFolder)
{
    qev::test::FakeHttpServer server;
    server.SetHandler(Serve);
    const QString base = QString::fromStdString("http://" + server.host());
    CKorvel2View view(*g_web);
    view.resize(400, 300);
    view.show();
    QSignalSpy marked(&view, &CKorvel2View::pageMarked);
    view.Navigate(base + "/page");
    ASSERT_TRUE(marked.wait(20000));
    ASSERT_TRUE(WaitFor([&] { return view.focusProxy() != nullptr; }, 10000));
    QSignalSpy status(g_web, &CWebContext::downloadStatus);
    const auto fetch = [&](const char* path, bool input) {
        if (input) QTest::mousePress(view.focusProxy(), Qt::LeftButton, {}, QPoint(10, 10));
        view.page()->runJavaScript(QStringLiteral("fetchIt('%1')").arg(path));
    };
    const auto log = [] {
        QFile file(QString::fromStdString(qev::LogFilePath()));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };

    // No input on this page yet: refused, nothing requested is saved.
    fetch("/dl/pushed.bin", false);
    ASSERT_TRUE(WaitFor([&] { return log().contains("download refused"); }, 20000));

    const QString home = QDir::homePath(), downloads = home + "/Downloads";
    const struct {
        const char* path;
        QString saved; // empty: the download fails and leaves nothing
    } cases[] = {
        {"/dl/reward.bin", "reward.bin"},
        {"/dl/reward.bin", "reward (1).bin"},
        {"/dl/.profile", "profile"},
        {"/dl/x.desktop", "x.desktop.download"},
        {"/dl/%C3%A9%E2%80%AE.txt", QString::fromUtf8("\xC3\xA9_.txt")},
        {"/cut/cut.bin", ""},
    };
    for (const auto& c : cases) {
        status.clear();
        fetch(c.path, true);
        ASSERT_TRUE(WaitFor(
            [&] {
                return !status.isEmpty() && !status.last()[0].toString().startsWith("Downloading");
            },
            20000))
            << c.path;
        const QString line = status.last()[0].toString();
        if (c.saved.isEmpty()) {
            EXPECT_TRUE(line.startsWith("Download failed: cut.bin")) << line.toStdString();
            continue;
        }
        // The status bar shows the name as saved, the log escaped.
        EXPECT_EQ(line.toStdString(), ("Downloaded: " + downloads + "/" + c.saved).toStdString());
        EXPECT_TRUE(log().contains(QString::fromStdString(
            qev::AddressForLog(("download saved: " + downloads + "/" + c.saved).toStdString()))))
            << c.path;
        QFile saved(downloads + "/" + c.saved);
        EXPECT_TRUE(saved.open(QIODevice::ReadOnly) &&
                    saved.readAll().startsWith(QByteArray("bytes of ") + c.path))
            << c.path;
    }
    EXPECT_EQ(Files(downloads).toStdString(),
              "profile|reward (1).bin|reward.bin|x.desktop.download|\xC3\xA9_.txt");
    EXPECT_EQ(Files(home).toStdString(), "") << "nothing lands in the home folder itself";
}

// The class on its own, handed a folder and the allowed hosts: which page may download
// from where, and where the file lands.
TEST(Downloads, ClassTakesItsFolderAndHostsFromItsOwner)
{
    qev::test::FakeHttpServer own, other;
    own.SetHandler(Serve);
    other.SetHandler(Serve);
    QTemporaryDir dir;
    QWebEngineProfile profile; // off the record
    QWebEnginePage page(&profile);
    QSignalSpy loaded(&page, &QWebEnginePage::loadFinished);
    page.load(QUrl(QString::fromStdString("http://" + own.host() + "/page")));
    ASSERT_TRUE(loaded.wait(20000));
    const struct {
        PageRole role;
        bool input, fromOther, otherKnown;
        const char* saved; // null: refused
    } rows[] = {
        {PageRole::Game, true, false, false, "a.bin"},
        {PageRole::Popup, true, true, true, "b.bin"},
        {PageRole::Game, false, false, false, nullptr},
        {PageRole::Login, true, false, false, nullptr},
        {PageRole::Reminder, true, false, false, nullptr},
        {PageRole::Game, true, true, false, nullptr},
    };
    for (const auto& row : rows) {
        CDownloads downloads(dir.path() + "/mine", dir.path(),
                             {row.otherKnown ? other.host() : std::string("elsewhere")});
        delete CPageGuard::Of(&page);
        auto* guard = new CPageGuard(&page, row.role);
        QSignalSpy status(&downloads, &CDownloads::status);
        QWebEngineDownloadRequest::DownloadState state{};
        const auto connection =
            QObject::connect(&profile, &QWebEngineProfile::downloadRequested, &downloads,
                             [&](QWebEngineDownloadRequest* download) {
                                 downloads.OnRequested(download);
                                 state = download->state();
                             });
        if (row.input) guard->OnInput();
        const std::string name = row.saved ? row.saved : "refused.bin";
        page.runJavaScript(QString::fromStdString(
            "fetchIt('" + (row.fromOther ? "http://" + other.host() : "") + "/dl/" + name + "')"));
        ASSERT_TRUE(
            WaitFor([&] { return state != QWebEngineDownloadRequest::DownloadRequested; }, 20000))
            << name;
        QObject::disconnect(connection);
        if (!row.saved) {
            EXPECT_EQ(state, QWebEngineDownloadRequest::DownloadCancelled) << name;
            continue;
        }
        ASSERT_TRUE(WaitFor(
            [&] {
                return !status.isEmpty() && status.last()[0].toString().startsWith("Downloaded");
            },
            20000))
            << name;
        EXPECT_EQ(status.last()[0].toString(), "Downloaded: " + dir.path() + "/mine/" + row.saved);
    }
    EXPECT_EQ(Files(dir.path() + "/mine").toStdString(), "a.bin|b.bin");
}

} // namespace

std::optional<int> qev::test::BeforeApp()
{
    // A home of its own whose desktop download folder is the home folder itself.
    static const qev::test::Sandbox root("qev-download");
    const QByteArray home = QByteArray::fromStdString(root / "home");
    QDir().mkpath(home + "/.config");
    QFile dirs(home + "/.config/user-dirs.dirs");
    if (!dirs.open(QIODevice::WriteOnly) || dirs.write("XDG_DOWNLOAD_DIR=\"$HOME/\"\n") < 0)
        return 2;
    dirs.close();
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString(root / "state"));
    return std::nullopt;
}

int qev::test::RunTests(const std::function<int()>& run)
{
    CWebContext web({"127.0.0.1"}); // off the record; the fake servers are the operator's
    g_web = &web;
    return run();
}
