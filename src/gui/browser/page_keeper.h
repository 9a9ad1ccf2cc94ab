#pragma once
// Brings a page back when its render process dies; a second death within a minute shows a
// message with a Reload button over the view instead, so a page that kills its renderer
// does not loop. A child of the page.
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>

class QLabel;
class QPushButton;
class QWebEngineView;
class QWidget;

class CPageKeeper : public QObject {
    Q_OBJECT
public:
    // A page whose render process ends twice within this long stops reloading itself.
    static constexpr qint64 CrashLoopMs = 60000;

    // view shows page.
    CPageKeeper(QWebEngineView* view, QWebEnginePage* page);

private:
    void OnTerminated(QWebEnginePage::RenderProcessTerminationStatus status, int code);
    // The message fills the view; its Reload button sits at the view's centre.
    void ShowMessage();

    QPointer<QWebEngineView> view_;
    QWebEnginePage* page_;
    QUrl lastUrl_;
    qint64 lastDeath_ = 0;
    QPointer<QWidget> message_;
    QLabel* text_ = nullptr; // children of message_
    QPushButton* reload_ = nullptr;
};
