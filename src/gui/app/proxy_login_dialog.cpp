#include "gui/app/proxy_login_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "gui/base/ui_text.h"
#include "gui/browser/proxy_auth.h"

namespace {
// A proxy's name is the network's to choose: a longer one is cut in the dialog.
constexpr int MaxHostShown = 200;
} // namespace

CProxyLoginDialog::CProxyLoginDialog(const QString& host, QWidget* parent)
    : QDialog(parent), host_(host), user_(new QLineEdit(this)), password_(new QLineEdit(this))
{
    setObjectName(QStringLiteral("proxyLogin"));
    setWindowTitle(UiText(qev::IdsProxyLoginCaption));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(UiText(qev::IdsProxyLoginText).arg(host.left(MaxHostShown)), this);
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* form = new QFormLayout;
    user_->setObjectName(QStringLiteral("user"));
    password_->setObjectName(QStringLiteral("password"));
    password_->setEchoMode(QLineEdit::Password);
    form->addRow(UiText(qev::IdsProxyUser), user_);
    form->addRow(UiText(qev::IdsProxyPassword), password_);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(this, &QDialog::finished, this, [this](int result) {
        emit answered(host_, result == QDialog::Accepted, user_->text(), password_->text());
    });
}

void OfferProxyLogin(CProxyLogin* login)
{
    QObject::connect(login, &CProxyLogin::loginWanted, login, [login](const QString& host) {
        // Its own window: the one that made the page may be hidden (the login stack, the
        // frame) or go before the answer.
        CProxyLoginDialog dialog(host);
        QObject::connect(&dialog, &CProxyLoginDialog::answered, login, &CProxyLogin::Answer);
        dialog.exec();
    });
}
