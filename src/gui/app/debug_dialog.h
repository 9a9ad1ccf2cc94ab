#pragma once
// The two tester dialogs that ask for the login and the logout page address when the
// layout leaves them open. OK with an empty address warns and stays; the close box or
// Escape cancel.
#include <QDialog>
#include <QString>

class QLineEdit;

class CDebugAddressDialog : public QDialog {
    Q_OBJECT
public:
    QString address; // the typed address, kept in step with the edit control
    QLineEdit* edit() const { return edit_; }

protected:
    CDebugAddressDialog(const QString& caption, int editId);
    void accept() override;

private:
    QLineEdit* edit_;
};

// "login in url input" (template 256).
class CDebugDialog : public CDebugAddressDialog {
    Q_OBJECT
public:
    CDebugDialog();
};

// "logout url input " (template 257).
class CDebugDialog2 : public CDebugAddressDialog {
    Q_OBJECT
public:
    CDebugDialog2();
};
