#include "browser/game_view.h"

#include <QUrl>

CKorvel2View::CKorvel2View(QWidget* parent) : QWebEngineView(parent) {}

void CKorvel2View::Navigate(const QString& url)
{
    load(QUrl(url));
}

void CKorvel2View::StopSchedule() {}

void CKorvel2View::StartSchedule(const std::string& /*feedText*/) {}
