#pragma once
// The player's input on the client's pages, and the zoom of game pages. Every mouse press,
// key or touch on a page's view gives that page's guard its allowance (Esc excepted);
// Ctrl with the wheel, +, - or 0 zooms a game page, and the zoom is remembered per host.
//
// One filter on the whole application, made with the web context that owns it: a view's
// render widget is made anew when its page is replaced, discarded and brought back, or
// its render process restarts, so a filter on that widget would be lost with it. The
// application's filter sees every event and finds the page the view shows at that moment.
#include <QObject>
#include <QPointer>
#include <QString>

#include "core/browser/web_rules.h"

class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;

class CInputWatch : public QObject {
    Q_OBJECT
public:
    // zoomFile: where zoom is remembered ("": not kept); read at once.
    CInputWatch(QString zoomFile, QObject* parent);
    ~CInputWatch() override;

    // Input counts only on the pages of profile (null: none yet).
    void Watch(QWebEngineProfile* profile) { profile_ = profile; }
    // A game page takes its host's zoom whenever it arrives there.
    void KeepZoom(QWebEnginePage* page);

    // Zoom of the pages of host, in percent; remembering writes the zoom file at once.
    int ZoomFor(const QString& host) const;
    void RememberZoom(const QString& host, int percent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Applies a zoom step to the game page of view (direction as NextZoomPercent).
    void StepZoom(QWebEngineView* view, int direction);

    QWebEngineProfile* profile_ = nullptr; // the web context's, which outlives this
    QString zoomFile_;
    qev::ZoomMemory zoom_;
    bool zoomUnsaved_ = false; // the last write failed (and was logged)
};
