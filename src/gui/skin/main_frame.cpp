#include "skin/main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/strings.h"
#include "browser/game_view.h"

CMainFrame::CMainFrame() : stack_(new QStackedWidget(this))
{
    setWindowTitle(QString::fromStdString(qev::LoadString(qev::IdsProductAbbrev)));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(stack_);
}

CMainFrame::~CMainFrame() = default;

CKorvel2Doc* CMainFrame::NewDocument()
{
    auto doc = std::make_unique<CKorvel2Doc>();
    doc->view = new CKorvel2View(stack_);
    stack_->addWidget(doc->view);
    documents_.push_back(std::move(doc));
    return documents_.back().get();
}

void CMainFrame::ActivateDocument(CKorvel2Doc* doc)
{
    if (doc && doc->view) stack_->setCurrentWidget(doc->view);
}

CKorvel2Doc* CMainFrame::activeDocument() const
{
    for (const auto& doc : documents_)
        if (doc->view && doc->view == stack_->currentWidget()) return doc.get();
    return nullptr;
}

CKorvel2View* CMainFrame::activeView() const
{
    CKorvel2Doc* doc = activeDocument();
    return doc ? doc->view : nullptr;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Closing the frame ends the program. The quit confirmation comes with the frame's
    // own caption and commands.
    event->accept();
    hide();
    QApplication::quit();
}
