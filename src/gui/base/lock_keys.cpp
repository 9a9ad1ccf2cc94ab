#include "gui/base/lock_keys.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

// The server's keyboard lights: 1 Caps Lock, 2 Num Lock, 3 Scroll Lock (bits 0 to 2).
constexpr unsigned CapsLed = 1u << 0, NumLed = 1u << 1, ScrollLed = 1u << 2;

} // namespace

LockKeys ReadLockKeys()
{
    LockKeys keys;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return keys;
    xcb_get_keyboard_control_reply_t* reply =
        xcb_get_keyboard_control_reply(connection, xcb_get_keyboard_control(connection), nullptr);
    if (!reply) return keys;
    keys.caps = reply->led_mask & CapsLed;
    keys.num = reply->led_mask & NumLed;
    keys.scroll = reply->led_mask & ScrollLed;
    std::free(reply);
    return keys;
}
