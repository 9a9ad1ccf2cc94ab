#pragma once
// The login stack's top layer: the image buttons of the login layout (minimise, close), a
// see-through layer above the page layer.
#include <QWidget>

#include <vector>

#include "core/layout/layout.h"
#include "gui/skin/layered_wnd.h"

class CBackgroundWnd;
class CImageButton;

class CTopWnd : public CLayerWnd {
    Q_OBJECT
public:
    // Commands of the login buttons.
    static constexpr int MinimizeCommand = 33769; // action 1001
    static constexpr int CloseCommand = 33770;    // action 1002

    // stack: the login background this layer lies on (null: a window of its own, for
    // tests). Created after the page layer, so it lies above it.
    // layout: the layout state whose current game the buttons come from.
    CTopWnd(CBackgroundWnd* stack, qev::LayoutState& layout);
    ~CTopWnd() override;

    // Rebuilds the buttons from the current game's login layout and takes its size.
    void BuildControls();
    void DestroyControls();
    const std::vector<CImageButton*>& buttons() const { return buttons_; }

    // The command table: 33769 minimises the stack, 33770 is the stack's close request.
    void OnCommand(int id);

private:
    qev::LayoutState& layout_;
};

// The login stack's two commands, shared by its layers: minimise the one window, or ask
// the stack to close. False for any other id.
bool HandleLoginStackCommand(QWidget* layer, int id);
