#include "gui/browser/page_guard.h"

#include <algorithm>

#include <QCheckBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "core/base/log.h"
#include "gui/base/ui_text.h"

namespace {

// Longer texts are cut: a page must not make a dialog larger than the screen.
constexpr int MaxDialogText = 1000;

qint64 Now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

CPageGuard::CPageGuard(QWebEnginePage* page, PageRole role)
    : QObject(page), page_(page), role_(role)
{
}

CPageGuard* CPageGuard::Of(const QWebEnginePage* page)
{
    return page ? page->findChild<CPageGuard*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

void CPageGuard::OnInput()
{
    allowance_.OnInput(Now());
    dialogs_.OnInput();
}

bool CPageGuard::HasAllowance(qev::AllowanceKind kind) const
{
    return allowance_.Has(kind, Now());
}

bool CPageGuard::SpendAllowance(qev::AllowanceKind kind)
{
    return allowance_.Spend(kind, Now());
}

void CPageGuard::Refused(const char* kind, const QString& line)
{
    const int count = refusals_.Note(kind, Now());
    if (count == 0) return;
    QString text = line;
    if (count > 1)
        text += QStringLiteral(" (%1 %2 refusals of this page in the last minute)")
                    .arg(count)
                    .arg(QString::fromLatin1(kind));
    qev::WriteLog(text.toStdString());
}

bool CPageGuard::RunDialog(int kind, const QString& text, const QString& defaultValue,
                           QString* result)
{
    static const char* const names[] = {"alert", "confirm", "prompt"};
    const char* name = names[std::clamp(kind, 0, 2)];
    if (role_ == PageRole::Reminder || dialog_ || !dialogs_.Show()) {
        Refused("dialog",
                QStringLiteral("%1 %2 answered without showing (%3)")
                    .arg(QString::fromLatin1(RolePageName(role_)), QString::fromLatin1(name),
                         role_ == PageRole::Reminder
                             ? QStringLiteral("reminder panes show none")
                             : QStringLiteral("dialogs in a row without input")));
        return false;
    }
    QWebEngineView* view = QWebEngineView::forPage(page_);
    // Modal to the page's own window only: the client's other windows and their Close
    // buttons stay usable.
    auto* dialog = new QDialog(view ? view->window() : nullptr);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(UiText(qev::IdsPageMessage).arg(page_->url().host()));
    auto* layout = new QVBoxLayout(dialog);
    auto* label = new QLabel(text.left(MaxDialogText), dialog);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    layout->addWidget(label);
    QLineEdit* input = nullptr;
    if (kind == ScriptPrompt) {
        input = new QLineEdit(defaultValue.left(MaxDialogText), dialog);
        layout->addWidget(input);
    }
    auto* stop = new QCheckBox(UiText(qev::IdsStopPageDialogs), dialog);
    layout->addWidget(stop);
    auto* buttons =
        new QDialogButtonBox(kind == ScriptAlert ? QDialogButtonBox::Ok
                                                 : QDialogButtonBox::Ok | QDialogButtonBox::Cancel,
                             dialog);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);

    dialog_ = dialog;
    const bool accepted = dialog->exec() == QDialog::Accepted;
    // The window may have gone while the dialog was open; the page has not (it waits).
    const bool stopped = dialog_ && stop->isChecked();
    if (accepted && input && result) *result = input->text();
    delete dialog_.data();
    if (stopped) dialogs_.Block();
    if (deleteWhenIdle_) page_->deleteLater();
    return accepted && kind != ScriptAlert;
}

bool CPageGuard::CloseDialog()
{
    if (!dialog_) return false;
    dialog_->reject();
    return true;
}

bool CPageGuard::DeleteWhenIdle()
{
    // A page whose dialog is open is still inside the engine's call that opened it: it
    // goes once the dialog has returned.
    if (CloseDialog()) {
        deleteWhenIdle_ = true;
        return true;
    }
    page_->deleteLater();
    return false;
}
