#include "core/base/message.h"

#include <cstdio>
#include <mutex>

#include "core/base/strings.h"

namespace qev {
namespace {

std::mutex g_mutex;
MessageHandler g_handler;

int DefaultHandler(const std::string& text, const std::string& caption, int /*type*/)
{
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return IdOk;
}

} // namespace

MessageHandler SetMessageHandler(MessageHandler handler)
{
    std::lock_guard lock(g_mutex);
    MessageHandler previous = std::move(g_handler);
    g_handler = std::move(handler);
    return previous;
}

int ShowMessage(const std::string& text, const std::string& caption, int type)
{
    MessageHandler handler;
    {
        std::lock_guard lock(g_mutex);
        handler = g_handler;
    }
    const std::string& shownCaption = caption.empty() ? AppTitle() : caption;
    return handler ? handler(text, shownCaption, type) : DefaultHandler(text, shownCaption, type);
}

} // namespace qev
