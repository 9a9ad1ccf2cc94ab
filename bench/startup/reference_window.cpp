// The smallest web-engine window that shows the login page: a frameless window of the login
// size with one view in the login pane's place. It reports the same two moments the client
// reports with QEV_TRACE_FIRST_PAINT: its window's first paint and the page's first load.
// Like a browser, it keeps its profile and disk cache on disk, in a fresh temporary folder.
// With --maximised, the view fills the maximised window (the game window's counterpart); with
// --autoplay, its page plays sound without a click, as the client lets its game pages do.
//   qev-startup-reference [URL] [--maximised] [--autoplay]
#include <QApplication>
#include <QDateTime>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <cstdio>

namespace {

void Trace(const char* what)
{
    std::fprintf(stderr, "%s %lld\n", what,
                 static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    std::fflush(stderr);
}

class TracedWindow : public QWidget {
public:
    TracedWindow() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {}

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter(this).fillRect(rect(), QColor(11, 21, 48));
        if (!painted_) Trace("first-paint");
        painted_ = true;
    }

private:
    bool painted_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    const QString url = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                 : QStringLiteral("http://127.0.0.1:18080/micro2");
    // Made before the window, so the page goes before its profile.
    const QTemporaryDir storage;
    QWebEngineProfile profile(QStringLiteral("bench"));
    profile.setPersistentStoragePath(storage.path() + QStringLiteral("/storage"));
    profile.setCachePath(storage.path() + QStringLiteral("/cache"));
    profile.setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    bool maximised = false;
    bool autoplay = false;
    for (int i = 2; i < argc; ++i) {
        maximised = maximised || QByteArray(argv[i]) == "--maximised";
        autoplay = autoplay || QByteArray(argv[i]) == "--autoplay";
    }
    profile.settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, !autoplay);
    TracedWindow window;
    window.resize(663, 391);
    auto* view = new QWebEngineView(&window);
    view->setPage(new QWebEnginePage(&profile, view));
    if (maximised) {
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view);
    } else {
        view->setGeometry(20, 50, 625, 319);
    }
    bool loaded = false;
    QObject::connect(view, &QWebEngineView::loadFinished, [&loaded](bool) {
        if (!loaded) Trace("page-loaded");
        loaded = true;
    });
    view->load(QUrl(url));
    if (maximised) {
        // Without a window manager (Xvfb) the maximised state alone leaves the window at its
        // own size: it takes the screen's free area itself, as the client's frame does.
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            window.setGeometry(screen->availableGeometry());
        window.showMaximized();
    } else {
        window.show();
    }
    return QApplication::exec();
}
