#pragma once
// A document of the main frame and its game view. The view shows a page; the cookie
// marking, the schedule and the reminder come with later changes.
#include <QString>
#include <QWebEngineView>

#include <string>

class CKorvel2View : public QWebEngineView {
    Q_OBJECT
public:
    explicit CKorvel2View(QWidget* parent = nullptr);
    void Navigate(const QString& url);
    // Stops the activity schedule and removes the reminder. Placeholder: the schedule is
    // not attached to the view yet.
    void StopSchedule();
    // Reads a task feed into the activity list and restarts the schedule timer.
    // Placeholder: the schedule is not attached to the view yet.
    void StartSchedule(const std::string& feedText);
};

class CKorvel2Doc {
public:
    QString title;                 // empty until the application names it
    CKorvel2View* view = nullptr;  // owned by the frame's widget tree
};
