#pragma once
// The one app-wide message-box seam. Core code reports to the user only through
// ShowMessage; the GUI installs a handler that shows a real dialog, tests install
// one that records and answers.
#include <functional>
#include <string>

namespace qev {

// Box types and answers keep the platform's numbers.
enum MessageType : int {
    MbOk = 0x0,
    MbOkCancel = 0x1,
    MbIconQuestion = 0x20,
};
enum MessageAnswer : int {
    IdOk = 1,
    IdCancel = 2,
};

using MessageHandler =
    std::function<int(const std::string& text, const std::string& caption, int type)>;

// Installs the handler and returns the previous one. An empty handler restores the
// default, which writes the text to stderr and answers IdOk.
MessageHandler SetMessageHandler(MessageHandler handler);

// Shows text with caption (the application's title when empty); returns the answer.
int ShowMessage(const std::string& text, const std::string& caption = {}, int type = MbOk);

} // namespace qev
