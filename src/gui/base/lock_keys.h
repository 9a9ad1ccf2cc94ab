#pragma once
// The state of the keyboard's lock keys, for the main frame's status bar indicators.

struct LockKeys {
    bool caps = false, num = false, scroll = false;
};

// The lock lights as the display server keeps them; all off when it cannot say (no X
// display, as with the offscreen platform).
LockKeys ReadLockKeys();
