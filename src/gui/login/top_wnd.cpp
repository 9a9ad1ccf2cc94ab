#include "gui/login/top_wnd.h"

#include "gui/login/background_wnd.h"
#include "gui/skin/image_button.h"

CTopWnd::CTopWnd(CBackgroundWnd* stack, qev::LayoutState& layout)
    : CLayerWnd(stack), layout_(layout)
{
    BuildControls();
}

CTopWnd::~CTopWnd()
{
    DestroyControls();
}

void CTopWnd::DestroyControls()
{
    DestroyButtons();
}

void CTopWnd::BuildControls()
{
    DestroyControls();
    const qev::GameEntry* game = layout_.GetCurrentGame();
    if (!game) return;
    for (const qev::ButtonItem& item : game->login.buttons) {
        auto* button = new CImageButton(item, this);
        button->raise();
        if (button->commandId() == MinimizeCommand)
            button->setAccessibleName(QStringLiteral("Minimize"));
        else if (button->commandId() == CloseCommand)
            button->setAccessibleName(QStringLiteral("Close"));
        button->setFocusRingColour(layout_.layout.captionColour);
        connect(button, &CImageButton::command, this, &CTopWnd::OnCommand);
        button->show();
        buttons_.push_back(button);
    }
    resize(std::max(0, game->login.width), std::max(0, game->login.height));
    UpdateInputMask();
}

void CTopWnd::OnCommand(int id)
{
    HandleLoginStackCommand(this, id);
}

bool HandleLoginStackCommand(QWidget* layer, int id)
{
    auto* background = qobject_cast<CBackgroundWnd*>(layer->window());
    switch (id) {
    case CTopWnd::MinimizeCommand:
        // The stack is one window: minimising it takes every layer down.
        if (background) background->showMinimized();
        return true;
    case CTopWnd::CloseCommand:
        if (background) background->RequestClose();
        return true;
    default: return false;
    }
}
