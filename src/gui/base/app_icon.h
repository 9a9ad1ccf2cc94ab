#pragma once
// The application icon (image 128): the login stack's taskbar window, the main frame and the
// reminder's tray icon all carry it.
#include <QIcon>

// Icon 128 from the built-in images; a null icon when the program carries none.
QIcon AppIcon();
