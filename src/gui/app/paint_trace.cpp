#include "gui/app/paint_trace.h"

#include <QApplication>
#include <QPaintEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <map>
#include <string>

namespace {

constexpr int TracePeriodMs = 10000;

class CPaintTrace : public QObject {
public:
    explicit CPaintTrace(QObject* parent) : QObject(parent)
    {
        qApp->installEventFilter(this);
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &CPaintTrace::Report);
        timer->start(TracePeriodMs);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            // The class and the window it is in: the game's view and the reminder's differ.
            const QWidget* window = static_cast<QWidget*>(watched)->window();
            Count& count = counts_[std::string(watched->metaObject()->className()) + " in " +
                                   window->metaObject()->className()];
            ++count.events;
            const QRect r = static_cast<QPaintEvent*>(event)->rect();
            count.pixels += static_cast<long long>(r.width()) * r.height();
        } else if (event->type() == QEvent::UpdateRequest) {
            ++counts_[std::string("update request ") + watched->metaObject()->className()].events;
        }
        return false;
    }

private:
    struct Count {
        long long events = 0;
        long long pixels = 0;
    };

    void Report()
    {
        for (const auto& [name, count] : counts_)
            std::fprintf(stderr, "paints %s %lld %lld\n", name.c_str(), count.events, count.pixels);
        std::fflush(stderr);
        counts_.clear();
    }

    std::map<std::string, Count> counts_;
};

} // namespace

void InstallPaintTrace()
{
    if (qEnvironmentVariableIsSet("QEV_TRACE_PAINTS")) new CPaintTrace(qApp);
}
