#include "gui/browser/proxy_auth.h"

#include <QAuthenticator>
#include <QUrl>
#include <QWebEnginePage>
#include <memory>
#include <optional>
#include <utility>

#include "core/platform/proxy_env.h"
#include "gui/browser/page_rules.h"

void CProxyLogin::Watch(QWebEnginePage* page)
{
    connect(page, &QWebEnginePage::proxyAuthenticationRequired, this,
            [this, page](const QUrl& url, QAuthenticator* authenticator, const QString& host) {
                OnChallenge(page, url, authenticator, host);
            });
}

void CProxyLogin::OnChallenge(QWebEnginePage* page, const QUrl& url, QAuthenticator* authenticator,
                              const QString& host)
{
    const std::string proxy = host.toStdString(), address = url.toString().toStdString();
    const auto environment = qev::ProxyCredentialsFor(proxy);
    qev::ProxyDecision decision = rule_.OnChallenge(proxy, address, environment);
    if (decision.answer == qev::ProxyAnswer::Ask) {
        // The question is answered before the engine's call returns (a request the engine
        // cancelled is not asked again by it): this request then gets the answer. Requests
        // that arrive meanwhile wait, and load again after it.
        emit loginWanted(host);
        decision = rule_.OnChallenge(proxy, address, environment);
    }
    // Left unanswered, the engine cancels the request.
    switch (decision.answer) {
    case qev::ProxyAnswer::Give:
        authenticator->setUser(QString::fromStdString(decision.credentials.user));
        authenticator->setPassword(QString::fromStdString(decision.credentials.password));
        WatchAnswer(page, host);
        break;
    case qev::ProxyAnswer::Ask: break;
    case qev::ProxyAnswer::Wait:
        if (!waiting_.contains(page)) waiting_.append(page);
        break;
    case qev::ProxyAnswer::Fail:
        if (decision.logLine)
            WebLog(QStringLiteral("proxy %1 %2")
                       .arg(LogText(host), QString::fromLatin1(decision.logLine)));
        break;
    }
}

void CProxyLogin::WatchAnswer(QWebEnginePage* page, const QString& host)
{
    // The load that carried the answer tells whether the proxy took it.
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = connect(page, &QWebEnginePage::loadFinished, this, [this, once, host](bool ok) {
        disconnect(*once);
        if (ok) return;
        if (const char* line = rule_.OnRefused(host.toStdString()))
            WebLog(QStringLiteral("proxy %1 %2").arg(LogText(host), QString::fromLatin1(line)));
    });
}

void CProxyLogin::Answer(const QString& host, bool given, const QString& user,
                         const QString& password)
{
    std::optional<qev::ProxyCredentials> credentials;
    if (given) {
        credentials = {host.toStdString(), user.toStdString(), password.toStdString()};
        qev::SetPlayerProxyCredentials(*credentials);
    }
    rule_.OnAnswer(host.toStdString(), credentials);
    // After the engine's call that asked has returned, with the answer in its cache.
    QMetaObject::invokeMethod(
        this,
        [this, given] {
            const QList<QPointer<QWebEnginePage>> waiting = std::exchange(waiting_, {});
            if (!given) return;
            for (const QPointer<QWebEnginePage>& page : waiting)
                if (page) page->triggerAction(QWebEnginePage::Reload);
        },
        Qt::QueuedConnection);
}
