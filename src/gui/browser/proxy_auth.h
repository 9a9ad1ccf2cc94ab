#pragma once
// The pages' answers to a proxy that asks them for a password (407), by qev::ProxyLoginRule:
// the environment's credentials, or the player's, asked once per proxy and run through
// loginWanted. The web context makes one and watches every page with it.
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include "core/net/proxy_login.h"

class QAuthenticator;
class QUrl;
class QWebEnginePage;

class CProxyLogin : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    void Watch(QWebEnginePage* page);
    // The player's answer to loginWanted(host), best before its slot returns: OK with user and
    // password, or Cancel. On OK the client's own requests through that proxy use them too, and the
    // pages whose requests failed meanwhile load once more.
    void Answer(const QString& host, bool given, const QString& user, const QString& password);

signals:
    // The player is to be asked for host's user and password (once per proxy and run), to
    // answer through Answer before the slot returns: the engine's call waits, then hands the
    // answer on (an answer later than that reloads this page too). Other pages run
    // meanwhile, their requests through the proxy failing until the answer.
    void loginWanted(const QString& host);

private:
    void OnChallenge(QWebEnginePage* page, const QUrl& url, QAuthenticator* authenticator,
                     const QString& host);
    void WatchAnswer(QWebEnginePage* page, const QString& host);

    qev::ProxyLoginRule rule_;
    QList<QPointer<QWebEnginePage>> waiting_; // to reload after the answer, each once
};
