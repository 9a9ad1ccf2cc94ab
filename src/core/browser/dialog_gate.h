#pragma once
// When a page's script dialogs (alert, confirm, prompt) are shown and when they are
// answered without showing. A game that asks once after each click keeps asking; a page
// that opens dialogs in a loop is answered quietly after its second one, so the player is
// never trapped between boxes. The gate is the page object's: a page that reloads or
// navigates itself between dialogs stays quiet.
namespace qev {

class DialogGate {
public:
    // Dialogs shown one after another with no input on the page between them.
    static constexpr int ShownWithoutInput = 2;

    // A dialog is asked for: true to show it, false to answer it quietly.
    bool Show();
    // The player asked for no more dialogs from this page, until Reset.
    void Block() { blocked_ = true; }
    // An input on the page: dialogs show again (unless blocked).
    void OnInput() { shown_ = 0; }
    // The player's own command reloads or replaces the page (Refresh, Return to Server
    // List, Switch Account): it starts afresh.
    void Reset() { *this = DialogGate(); }

private:
    int shown_ = 0;
    bool blocked_ = false;
};

inline bool DialogGate::Show()
{
    if (blocked_ || shown_ >= ShownWithoutInput) return false;
    ++shown_;
    return true;
}

} // namespace qev
