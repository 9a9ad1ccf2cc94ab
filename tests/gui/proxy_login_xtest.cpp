// The panes behind a real proxy that asks for a password: the player is asked once, the
// panes load after the answer, the client's own requests pass with the same answer, and a
// wrong answer is not asked again. Skips without tinyproxy (scripts/bootstrap servers).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebEngineView>

#include <algorithm>

#include "core/platform/http_get.h"
#include "fake_http_server.h"
#include "gui/app/proxy_login_dialog.h"
#include "gui/browser/mini_browser.h"
#include "gui/browser/proxy_auth.h"
#include "gui_main.h"
#include "sandbox.h"
#include "wait_for.h"

namespace {

const qev::test::Sandbox RootFolder("qev-proxy-xtest");
const QString Root = QString::fromStdString(RootFolder.path());
QString Tinyproxy;

// Two login panes of a fresh profile (whose engine knows no answer), loading through the
// proxy; the dialog is wired as the application wires it, and answered with user and password
// (typed from a timer: it runs in the dialog's own loop).
struct ProxyRig {
    qev::test::FakeHttpServer origin;
    CWebContext web{{"127.0.0.1"}};
    QSignalSpy asked{web.proxyLogin(), &CProxyLogin::loginWanted};
    QWidget window;
    CMiniBrowser* panes[2] = {new CMiniBrowser(web, PageRole::Login, &window),
                              new CMiniBrowser(web, PageRole::Login, &window)};
    QTimer typist;

    ProxyRig(const char* user, const char* password)
    {
        origin.SetHandler([](auto&) { return qev::test::MakeReply(200, "<title>in</title>"); });
        OfferProxyLogin(web.proxyLogin());
        QObject::connect(&typist, &QTimer::timeout, [=] {
            auto* dialog = qobject_cast<CProxyLoginDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible()) return;
            QTest::keyClicks(dialog->findChild<QLineEdit*>("user"), user);
            QTest::keyClicks(dialog->findChild<QLineEdit*>("password"), password);
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        typist.start(50);
        for (int i = 0; i < 2; ++i) {
            EXPECT_TRUE(panes[i]->Create(QRect(i * 200, 0, 200, 200), &window, 5000 + i));
            Load(i, "/pane" + std::to_string(i));
        }
        window.show();
    }
    void Load(int i, const std::string& path)
    {
        panes[i]->Navigate(QString::fromStdString("http://" + origin.host() + path));
    }
};

TEST(ProxyLogin, AskedOnceThenPanesAndTheClientsRequestsPass)
{
    ProxyRig rig("qev", "s3cret");
    auto loaded = [&](int i) { return rig.panes[i]->page()->title() == QStringLiteral("in"); };
    ASSERT_TRUE(WaitFor([&] { return loaded(0) && loaded(1); }, 20000));
    EXPECT_EQ(rig.asked.count(), 1);
    // Each pane loaded once, after the answer (the engine may ask for an icon besides).
    for (const char* pane : {"GET /pane0 ", "GET /pane1 "})
        EXPECT_EQ(std::ranges::count_if(rig.origin.Requests(),
                                        [&](auto& r) { return r.raw.starts_with(pane); }),
                  1);
    EXPECT_EQ(qev::HttpGetText("?a=1", "/feed", rig.origin.host()), "<title>in</title>");
    EXPECT_NE(rig.origin.Requests().back().Header("Via"), ""); // through the proxy
}

TEST(ProxyLogin, WrongAnswerIsNotAskedAgain)
{
    ProxyRig rig("qev", "wrong");
    QFile log(Root + "/state/qev/qev.log");
    const QByteArray refused = "proxy 127.0.0.1 refused the password the player gave";
    ASSERT_TRUE(WaitFor(
        [&] { return log.open(QIODevice::ReadOnly) && log.readAll().contains(refused); }, 20000));
    QSignalSpy failed(rig.panes[0]->view(), &QWebEngineView::loadFinished);
    rig.Load(0, "/again");
    ASSERT_TRUE(failed.wait(20000));
    EXPECT_EQ(rig.asked.count(), 1);
    EXPECT_EQ(rig.origin.RequestCount(), 0u);
    log.seek(0);
    EXPECT_EQ(log.readAll().count(refused), 1);
}

} // namespace

std::optional<int> qev::test::BeforeApp()
{
    Tinyproxy = QStandardPaths::findExecutable("tinyproxy");
    if (Tinyproxy.isEmpty()) Tinyproxy = QStandardPaths::findExecutable("tinyproxy", {"/usr/sbin"});
    if (Tinyproxy.isEmpty()) return std::puts("SKIP: no tinyproxy"), 0;
    qputenv("XDG_STATE_HOME", (Root + "/state").toUtf8());
    return std::nullopt;
}

int qev::test::RunTests(const std::function<int()>& run)
{
    QTcpServer probe; // a port free a moment ago
    probe.listen(QHostAddress::LocalHost);
    const QByteArray port = QByteArray::number(probe.serverPort());
    probe.close();
    QFile conf(Root + "/tinyproxy.conf");
    if (!conf.open(QIODevice::WriteOnly) ||
        conf.write("Port " + port + "\nListen 127.0.0.1\nTimeout 30\nBasicAuth qev s3cret\n") < 0)
        return 2;
    conf.close();
    QProcess proxy;
    proxy.start(Tinyproxy, {"-d", "-c", conf.fileName()});
    QTcpSocket probeProxy;
    const bool up = WaitFor(
        [&] {
            probeProxy.connectToHost(QHostAddress::LocalHost, port.toUShort());
            return probeProxy.waitForConnected(100);
        },
        10000);
    // Loopback addresses go through the proxy too (the engine would take them past it).
    qputenv("http_proxy", "http://127.0.0.1:" + port);
    qputenv("no_proxy", "<-loopback>");
    const int result = up ? run() : 1;
    proxy.kill();
    proxy.waitForFinished();
    return result;
}
