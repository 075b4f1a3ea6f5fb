#include "host/HostServer.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include "host/HostRules.h"
#include "host/PageSession.h"
#include "support/Trace.h"
#include "support/Version.h"

namespace dorvex::host {

HostServer::HostServer(Desk& desk, ConsentKeeper& consent, HostConfig& config, QByteArray script, HostLimits limits,
                       QObject* parent)
    : QObject(parent),
      mDesk(desk),
      mConsent(consent),
      mConfig(config),
      mScript(std::move(script)),
      mLimits(limits),
      mWebSockets(QStringLiteral("dorvex-host"), QWebSocketServer::NonSecureMode) {
    connect(&mTcp, &QTcpServer::newConnection, this, &HostServer::Accept);
    connect(&mWebSockets, &QWebSocketServer::newConnection, this, &HostServer::NewPage);
    mWebSockets.setMaxPendingConnections(mLimits.maxConnections);
}

bool HostServer::Listen(quint16 port) { return mTcp.listen(QHostAddress::LocalHost, port); }

void HostServer::Accept() {
    while (QTcpSocket* socket = mTcp.nextPendingConnection()) {
        if (mOpen >= mLimits.maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++mOpen;
        // Until the head is judged, no more than a head is taken in.
        socket->setReadBufferSize(static_cast<qint64>(kMaxHeadBytes) + 1);
        connect(socket, &QObject::destroyed, this, [this] { --mOpen; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // The head must come in time; the timer belongs to the socket and dies with it.
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        timer->setObjectName(QStringLiteral("head-timer"));
        connect(timer, &QTimer::timeout, socket, [socket] { socket->abort(); });
        timer->start(mLimits.headMilliseconds);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Inspect(socket); });
    }
}

void HostServer::Inspect(QTcpSocket* socket) {
    QByteArray bytes = socket->peek(static_cast<qint64>(kMaxHeadBytes) + 1);
    RequestHead head;
    HeadState state = ParseRequestHead(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), head);
    if (state == HeadState::Incomplete) return;
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    if (state == HeadState::TooLarge) {
        return Reply(socket, "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    }
    if (state == HeadState::Malformed) {
        return Reply(socket, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    }
    mConfig.Reload();  // an origin listed or removed a moment ago counts
    Decision decision = Decide(head, Port(), [this](const std::string& origin) { return mConfig.Access(origin); });
    if (decision.answer != Answer::Upgrade) {
        if (decision.answer == Answer::Refuse) DebugTrace("host: refused " + head.method + " " + head.target);
        std::string text = ResponseText(decision, head, mScript.toStdString(), LibraryVersion());
        return Reply(socket, QByteArray::fromStdString(text));
    }
    delete socket->findChild<QTimer*>(QStringLiteral("head-timer"), Qt::FindDirectChildrenOnly);
    disconnect(socket, &QTcpSocket::disconnected, socket, nullptr);
    socket->setReadBufferSize(0);  // the WebSocket's own message limits hold from here
    mWebSockets.handleConnection(socket);
    // The head is still unread in the socket and no more bytes may come: tell the WebSocket
    // server it is there.
    emit socket->readyRead();
}

void HostServer::Reply(QTcpSocket* socket, const QByteArray& response) {
    socket->write(response);
    socket->disconnectFromHost();  // after the bytes are written; then `disconnected` deletes it
}

void HostServer::NewPage() {
    while (QWebSocket* socket = mWebSockets.nextPendingConnection()) {
        socket->setMaxAllowedIncomingMessageSize(mLimits.maxMessageBytes);
        socket->setMaxAllowedIncomingFrameSize(mLimits.maxMessageBytes);
        // The origin was checked at the handshake; the session asks the person.
        new PageSession(socket, NormalizeOrigin(socket->origin().toStdString()), mDesk, mConsent, this);
    }
}

}  // namespace dorvex::host
