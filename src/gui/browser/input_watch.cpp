#include "gui/browser/input_watch.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QSaveFile>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWheelEvent>

#include <optional>

#include "gui/browser/page_guard.h"
#include "gui/browser/page_rules.h"

namespace {

// The web view the event was sent into (the view itself or its render widget), or null.
QWebEngineView* ViewUnder(QObject* watched)
{
    for (QObject* object = watched; object; object = object->parent())
        if (auto* view = qobject_cast<QWebEngineView*>(object)) return view;
    return nullptr;
}

// The zoom step of a Ctrl key on a game page: 1, -1, 0 (back to 100 %), or none.
std::optional<int> ZoomKey(const QKeyEvent* key)
{
    if (!(key->modifiers() & Qt::ControlModifier)) return std::nullopt;
    switch (key->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: return 1;
    case Qt::Key_Minus: return -1;
    case Qt::Key_0: return 0;
    default: return std::nullopt;
    }
}

} // namespace

CInputWatch::CInputWatch(QString zoomFile, QObject* parent)
    : QObject(parent), zoomFile_(std::move(zoomFile))
{
    QFile file(zoomFile_);
    if (!zoomFile_.isEmpty() && file.open(QIODevice::ReadOnly))
        zoom_.Read(file.read(64 * 1024).toStdString());
    qApp->installEventFilter(this);
}

CInputWatch::~CInputWatch()
{
    qApp->removeEventFilter(this);
}

void CInputWatch::KeepZoom(QWebEnginePage* page)
{
    const auto applyZoom = [this, page] {
        const int percent = ZoomFor(page->url().host());
        if (qRound(page->zoomFactor() * 100) != percent) page->setZoomFactor(percent / 100.0);
    };
    connect(page, &QWebEnginePage::urlChanged, this, applyZoom);
    connect(page, &QWebEnginePage::loadFinished, this, applyZoom);
}

int CInputWatch::ZoomFor(const QString& host) const
{
    return zoom_.PercentFor(host.toStdString());
}

void CInputWatch::RememberZoom(const QString& host, int percent)
{
    if (!zoom_.Set(host.toStdString(), percent) || zoomFile_.isEmpty()) return;
    QSaveFile file(zoomFile_);
    const bool saved = file.open(QIODevice::WriteOnly) &&
                       file.write(QByteArray::fromStdString(zoom_.Text())) >= 0 && file.commit();
    // One line per run of failures, not one per wheel step.
    if (!saved && !zoomUnsaved_)
        WebLog(QStringLiteral("zoom not remembered: %1 cannot be written (%2)")
                   .arg(LogText(zoomFile_), file.errorString()));
    zoomUnsaved_ = !saved;
}

void CInputWatch::StepZoom(QWebEngineView* view, int direction)
{
    QWebEnginePage* page = view->page();
    const QString host = page->url().host();
    const int percent = qev::NextZoomPercent(qRound(page->zoomFactor() * 100), direction);
    page->setZoomFactor(percent / 100.0);
    if (!host.isEmpty()) RememberZoom(host, percent);
}

bool CInputWatch::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::KeyPress &&
        type != QEvent::TouchBegin && type != QEvent::Wheel)
        return false;
    QWebEngineView* view = ViewUnder(watched);
    QWebEnginePage* page = view ? view->page() : nullptr;
    if (!page || !profile_ || page->profile() != profile_) return false;
    const PageRole role = RoleOf(page);
    if (type == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (role != PageRole::Game || !(wheel->modifiers() & Qt::ControlModifier)) return false;
        const int delta = wheel->angleDelta().y();
        if (delta != 0) StepZoom(view, delta > 0 ? 1 : -1);
        return true;
    }
    auto* key = type == QEvent::KeyPress ? static_cast<QKeyEvent*>(event) : nullptr;
    // Esc is the player's way out (of full screen, of the pointer lock): it allows nothing.
    if (CPageGuard* guard = CPageGuard::Of(page); guard && (!key || key->key() != Qt::Key_Escape))
        guard->OnInput();
    if (!key || role != PageRole::Game) return false;
    const std::optional<int> step = ZoomKey(key);
    if (step) StepZoom(view, *step);
    return step.has_value();
}
