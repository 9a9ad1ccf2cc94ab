#pragma once
// The main frame around the game pages: a list of documents (title + view), shown one at
// a time. Its own caption painting and commands come with a later change; for now it is
// a plain window that ends the program when it closes.
#include <QWidget>

#include <memory>
#include <vector>

class QStackedWidget;
class CKorvel2Doc;
class CKorvel2View;

class CMainFrame : public QWidget {
    Q_OBJECT
public:
    CMainFrame();
    ~CMainFrame() override;

    // The template's new-document operation: a new untitled document with its game view.
    // Null when the view could not be made.
    CKorvel2Doc* NewDocument();
    const std::vector<std::unique_ptr<CKorvel2Doc>>& documents() const { return documents_; }
    // Brings the document's view to the front ("activate the child frame maximised").
    void ActivateDocument(CKorvel2Doc* doc);
    CKorvel2Doc* activeDocument() const;
    // The active child frame's active view, or null.
    CKorvel2View* activeView() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QStackedWidget* stack_;
    std::vector<std::unique_ptr<CKorvel2Doc>> documents_;
};
