#pragma once
// The question to the player for a proxy's user name and password, and its wiring to the
// pages' proxy answers: one modal dialog per question (the pages keep running; their other
// requests through the proxy fail until the answer and then load once more).
#include <QDialog>
#include <QString>

class CProxyLogin;
class QLineEdit;

class CProxyLoginDialog : public QDialog {
    Q_OBJECT
public:
    // host is shown as plain text: a proxy's name cannot bring markup into the dialog.
    explicit CProxyLoginDialog(const QString& host, QWidget* parent = nullptr);

signals:
    // OK (given) with what was typed, or Cancel / the close box.
    void answered(const QString& host, bool given, const QString& user, const QString& password);

private:
    QString host_;
    QLineEdit* user_;
    QLineEdit* password_;
};

// Shows a CProxyLoginDialog for each of login's questions and hands its answer back before
// the question returns.
void OfferProxyLogin(CProxyLogin* login);
