#pragma once
// A proxy that asks the pages for a password (407) gets the one the player put into
// https_proxy / http_proxy, once per proxy and run: a proxy that asks again refused it and
// is not answered again. Without one the request fails, with one log line per proxy.
class QWebEnginePage;

void AnswerProxyAuthentication(QWebEnginePage* page);
