#pragma once
// The host's listener on 127.0.0.1: reads each request head without consuming it, answers
// plain requests itself (the script, the health check, preflights) and hands a WebSocket
// handshake from a listed origin to the WebSocket server. Each page connection gets a
// PageSession.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QWebSocketServer>
#include <memory>

#include "control/OrbScan.h"
#include "host/Consent.h"

namespace dorvex::host {

struct HostLimits {
    int maxConnections = 16;          // connections open now, pages and plain requests together
    int headMilliseconds = 5000;      // for a request head to arrive
    qint64 maxMessageBytes = 64 * 1024;
    int idleMilliseconds = 10 * 60 * 1000;  // a page that answers nothing, not even a ping, for this long is gone
};

// The person's desktop: one window at a time, whichever page asked for it.
struct Desk {
    IComponentHost& windows;  // shows the windows (real ones, or the scripted person's)
    bool busy = false;
};

class HostServer : public QObject {
    Q_OBJECT
public:
    HostServer(Desk& desk, ConsentKeeper& consent, HostConfig& config, QByteArray script,
               HostLimits limits = {}, QObject* parent = nullptr);
    // Listens on 127.0.0.1 only; port 0 takes a free one. False when the port cannot be had.
    bool Listen(quint16 port);
    quint16 Port() const { return mTcp.serverPort(); }
    QString ErrorString() const { return mTcp.errorString(); }

private:
    void Accept();
    void Inspect(QTcpSocket* socket);
    void Reply(QTcpSocket* socket, const QByteArray& response);
    void NewPage();
    // Lets a connection go that the WebSocket server did not take.
    void Drop(QTcpSocket* socket);

    Desk& mDesk;
    ConsentKeeper& mConsent;
    HostConfig& mConfig;
    QByteArray mScript;
    HostLimits mLimits;
    QTcpServer mTcp;
    QWebSocketServer mWebSockets;
    std::shared_ptr<int> mOpen = std::make_shared<int>(0);  // connections open now (their slots)
    int mPages = 0;  // page sessions alive
    QList<QPointer<QTcpSocket>> mUpgrading;  // handed to the WebSocket server, no page yet
};

}  // namespace dorvex::host
