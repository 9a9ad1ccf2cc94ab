#include "gui/browser/proxy_auth.h"

#include <QAuthenticator>
#include <QWebEnginePage>
#include <set>
#include <string>

#include "core/base/log.h"
#include "core/net/proxy_env.h"

namespace {

// The proxies answered, and those already logged, this run (the pages live on the UI
// thread only).
std::set<std::string>& Answered()
{
    static std::set<std::string> hosts;
    return hosts;
}
std::set<std::string>& Logged()
{
    static std::set<std::string> hosts;
    return hosts;
}

void LogOnce(const std::string& host, const std::string& why)
{
    if (!Logged().insert(host).second) return;
    qev::WriteLog("proxy " + qev::EscapeForLog(host, "\\\"", false, 100) + " " + why);
}

} // namespace

void AnswerProxyAuthentication(QWebEnginePage* page)
{
    QObject::connect(page, &QWebEnginePage::proxyAuthenticationRequired, page,
                     [](const QUrl&, QAuthenticator* authenticator, const QString& proxyHost) {
                         const std::string host = proxyHost.toStdString();
                         const auto credentials = qev::ProxyCredentialsFor(host);
                         // Left unanswered, the engine cancels the request.
                         if (!credentials) {
                             LogOnce(host, "asks for a password: none in https_proxy or "
                                           "http_proxy, the pages' requests fail");
                             return;
                         }
                         if (!Answered().insert(host).second) {
                             LogOnce(host, "refused the password from the environment");
                             return;
                         }
                         authenticator->setUser(QString::fromStdString(credentials->user));
                         authenticator->setPassword(QString::fromStdString(credentials->password));
                     });
}
