#include "skin/top_wnd.h"

#include "browser/login_wnd.h"

CTopWnd::CTopWnd(CLoginWnd* /*owner*/) : QWidget(nullptr, Qt::FramelessWindowHint) {}
