#include "gui/app/message_box.h"

#include <QApplication>
#include <QMessageBox>

#include "core/base/message.h"

void InstallMessageBoxHandler()
{
    qev::SetMessageHandler([](const std::string& text, const std::string& caption, int type) {
        QMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(QString::fromStdString(caption));
        box.setText(QString::fromStdString(text));
        if (type & qev::MbIconQuestion) box.setIcon(QMessageBox::Question);
        if ((type & 0xF) == qev::MbOkCancel)
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        else
            box.setStandardButtons(QMessageBox::Ok);
        return box.exec() == QMessageBox::Ok ? qev::IdOk : qev::IdCancel;
    });
}
