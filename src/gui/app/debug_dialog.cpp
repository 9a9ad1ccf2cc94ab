#include "gui/app/debug_dialog.h"

#include <QLineEdit>
#include <QPushButton>

#include <cmath>

#include "core/base/message.h"
#include "core/base/strings.h"

namespace {
// The templates are laid out in dialog units; these are the pixels of the usual 8-point font.
constexpr double Dlu = 1.5;
int Px(int units)
{
    return static_cast<int>(std::lround(units * Dlu));
}
} // namespace

CDebugAddressDialog::CDebugAddressDialog(const QString& caption, int editId)
    : edit_(new QLineEdit(this))
{
    setWindowTitle(caption);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(Px(264), Px(50));
    edit_->setObjectName(QString::number(editId));
    edit_->setGeometry(Px(14), Px(20), Px(187), Px(15));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setGeometry(Px(207), Px(21), Px(50), Px(14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CDebugAddressDialog::accept);
    connect(edit_, &QLineEdit::textChanged, this, [this](const QString& text) { address = text; });
}

void CDebugAddressDialog::accept()
{
    if (address.isEmpty()) {
        qev::ShowMessage(qev::LoadString(qev::IdsCannotBeEmpty));
        return;
    }
    QDialog::accept();
}

CDebugDialog::CDebugDialog() : CDebugAddressDialog(QStringLiteral("login in url input"), 1002) {}

CDebugDialog2::CDebugDialog2() : CDebugAddressDialog(QStringLiteral("logout url input "), 1004) {}
