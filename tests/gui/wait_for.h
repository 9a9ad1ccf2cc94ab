#pragma once
// Waiting in GUI tests. QTest's QTRY macros report to QTest, not to GoogleTest, so a
// timeout there would pass silently: tests wait with WaitFor and assert its result.
#include <QDeadlineTimer>
#include <QTest>

// Runs the event loop until cond holds or ms pass; true when it holds.
template <class Cond> bool WaitFor(Cond cond, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!cond()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(20);
    }
    return true;
}
