#include "gui/browser/page_keeper.h"

#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QWebEngineView>

#include <algorithm>

#include "gui/base/ui_text.h"
#include "gui/browser/page_rules.h"

namespace {

// The message over a page that stopped working.
constexpr int ReloadButtonWidth = 120;
constexpr int ReloadButtonHeight = 32;
constexpr int MessageGap = 8;
constexpr int MessageMinWidth = 240;

const char* TerminationName(QWebEnginePage::RenderProcessTerminationStatus status)
{
    switch (status) {
    case QWebEnginePage::NormalTerminationStatus: return "normal exit";
    case QWebEnginePage::AbnormalTerminationStatus: return "abnormal exit";
    case QWebEnginePage::CrashedTerminationStatus: return "crashed";
    case QWebEnginePage::KilledTerminationStatus: return "killed";
    }
    return "unknown";
}

} // namespace

CPageKeeper::CPageKeeper(QWebEngineView* view, QWebEnginePage* page)
    : QObject(page), view_(view), page_(page)
{
    connect(page, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) {
        if (!url.isEmpty()) lastUrl_ = url;
    });
    connect(page, &QWebEnginePage::renderProcessTerminated, this, &CPageKeeper::OnTerminated);
}

void CPageKeeper::OnTerminated(QWebEnginePage::RenderProcessTerminationStatus status, int code)
{
    if (status == QWebEnginePage::NormalTerminationStatus) return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool again = lastDeath_ != 0 && now - lastDeath_ < CrashLoopMs;
    lastDeath_ = now;
    WebLog(QStringLiteral("%1 render process ended (%2, code %3) at %4: %5")
               .arg(RoleName(RoleOf(page_)), QString::fromLatin1(TerminationName(status)),
                    QString::number(code), ForLog(lastUrl_),
                    again ? QStringLiteral("second time within a minute, showing Reload")
                          : QStringLiteral("loading it again")));
    if (again)
        ShowMessage();
    else
        page_->load(lastUrl_);
}

void CPageKeeper::ShowMessage()
{
    if (!view_) return;
    if (!message_) {
        message_ = new QWidget(view_);
        message_->setAutoFillBackground(true);
        text_ = new QLabel(UiText(qev::IdsPageStopped), message_);
        text_->setAlignment(Qt::AlignCenter);
        reload_ = new QPushButton(UiText(qev::IdsReload), message_);
        connect(reload_, &QPushButton::clicked, this, [this] {
            message_->hide();
            page_->load(lastUrl_);
        });
    }
    const QRect area = view_->rect();
    message_->setGeometry(area);
    // A small pane (a reminder's) has room for the button alone.
    text_->setVisible(area.width() >= MessageMinWidth);
    const QSize button(std::min(ReloadButtonWidth, area.width()),
                       std::min(ReloadButtonHeight, area.height()));
    reload_->setGeometry(
        QRect(area.center() - QPoint(button.width(), button.height()) / 2, button));
    text_->setGeometry(0, reload_->y() - MessageGap - ReloadButtonHeight, area.width(),
                       ReloadButtonHeight);
    message_->show();
    message_->raise();
}
