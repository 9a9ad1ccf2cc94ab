#pragma once
// The downloads of game pages: accepted only from a game page or pop-up, after the player's
// input, from the page's own host or one of the client's, a few at a time; saved under a
// safe, free name in the download folder, never left as a partial file.
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <string>
#include <vector>

#include "gui/browser/page_guard.h"

class QWebEngineDownloadRequest;

class CDownloads : public QObject {
    Q_OBJECT
public:
    // userFolder: the desktop's download folder; home: the home folder, which is never the
    // download folder itself (home/Downloads is used then). The folder is made at the first
    // download. knownHosts: the layout's hosts ("host[:port]") pages may download from
    // besides their own.
    CDownloads(QString userFolder, QString home, std::vector<std::string> knownHosts,
               QObject* parent = nullptr);

    // The profile's downloadRequested.
    void OnRequested(QWebEngineDownloadRequest* download);

signals:
    // A line for the status bar: a download's progress, its final path or its failure.
    void status(const QString& text);

private:
    // Whether the page that asked may download this; refuses it (and says why) if not.
    bool Allowed(QWebEngineDownloadRequest* download, CPageGuard* guard);
    // The first free name for name in folder: no file of it, and no other download heading
    // there; empty when there is none.
    QString FreeName(const QString& folder, const QString& name) const;
    // Reports a download's progress and ends it with its last state.
    void Follow(QWebEngineDownloadRequest* download);
    // A complete download takes its final name (or the next free copy of its name); any
    // other end removes its hidden file. Once per download.
    void End(quint32 id, bool complete, const QString& reason);

    QString userFolder_, home_;
    std::vector<std::string> knownHosts_;
    // Every download this run accepted, by the engine's id. One under way holds its final
    // name, so two at once do not pick the same one.
    struct Download {
        QString folder, name, finalName;
        QString partPath; // where the bytes arrive
        bool ended = false;
        QPointer<CPageGuard> page; // counts its downloads under way
    };
    QHash<quint32, Download> downloads_;
};
