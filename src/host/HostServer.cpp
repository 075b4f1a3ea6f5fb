#include "host/HostServer.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <memory>

#include "host/HostRules.h"
#include "host/PageSession.h"
#include "support/Trace.h"
#include "support/Version.h"

namespace dorvex::host {
namespace {

// One of the host's connection slots, held while the socket it belongs to lives. A child of the
// socket rather than a signal connection: the WebSocket drops every connection of its socket
// when it goes.
class ConnectionSlot : public QObject {
public:
    ConnectionSlot(QObject* socket, std::shared_ptr<int> open) : QObject(socket), mOpen(std::move(open)) { ++*mOpen; }
    ~ConnectionSlot() override { --*mOpen; }

private:
    std::shared_ptr<int> mOpen;
};

}  // namespace

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
        if (*mOpen >= mLimits.maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Every way a connection ends deletes its socket, and the slot with it.
        new ConnectionSlot(socket, mOpen);
        // Until the head is judged, no more than a head is taken in.
        socket->setReadBufferSize(static_cast<qint64>(kMaxHeadBytes) + 1);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { Drop(socket); });
        // The head must come in time, a plain answer must be read by then, and a handshake must
        // have become a page; the timer belongs to the socket and dies with it.
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        timer->setObjectName(QStringLiteral("head-timer"));
        connect(timer, &QTimer::timeout, this, [this, socket] { Drop(socket); });
        timer->start(mLimits.headMilliseconds);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Inspect(socket); });
    }
}

void HostServer::Drop(QTcpSocket* socket) {
    mUpgrading.removeAll(socket);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    disconnect(socket, &QTcpSocket::disconnected, this, nullptr);
    socket->abort();
    socket->deleteLater();
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
        std::string text =
            ResponseText(decision, head, mScript.toStdString(), HostStatus{LibraryVersion(), *mOpen, mPages});
        return Reply(socket, QByteArray::fromStdString(text));
    }
    socket->setReadBufferSize(0);  // the WebSocket's own message limits hold from here
    // The WebSocket server reads the handshake from the event loop. Until a page comes of it in
    // NewPage, a connection that ends (the handshake failed) is let go here as any other.
    mUpgrading.push_back(socket);
    mWebSockets.handleConnection(socket);
}

void HostServer::Reply(QTcpSocket* socket, const QByteArray& response) {
    socket->write(response);
    socket->disconnectFromHost();  // after the bytes are written; then `disconnected` deletes it
}

void HostServer::NewPage() {
    while (QWebSocket* socket = mWebSockets.nextPendingConnection()) {
        // The connection under it is the one of ours from the same peer address and port.
        QTcpSocket* transport = nullptr;
        for (auto it = mUpgrading.begin(); it != mUpgrading.end();) {
            if (!*it) {
                it = mUpgrading.erase(it);
                continue;
            }
            if ((*it)->peerPort() == socket->peerPort() && (*it)->peerAddress() == socket->peerAddress()) {
                transport = *it;
                mUpgrading.erase(it);
                break;
            }
            ++it;
        }
        if (transport == nullptr) {  // not one of ours: no slot, no session
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // From here the page's session owns the connection, and only it deletes it: the
        // WebSocket under it must go first.
        disconnect(transport, &QTcpSocket::disconnected, this, nullptr);
        disconnect(transport, &QTcpSocket::disconnected, &mWebSockets, nullptr);
        delete transport->findChild<QTimer*>(QStringLiteral("head-timer"), Qt::FindDirectChildrenOnly);
        socket->setMaxAllowedIncomingMessageSize(mLimits.maxMessageBytes);
        socket->setMaxAllowedIncomingFrameSize(mLimits.maxMessageBytes);
        // The origin was checked at the handshake; the session asks the person.
        auto* page = new PageSession(socket, transport, NormalizeOrigin(socket->origin().toStdString()), mDesk,
                                     mConsent, mLimits.idleMilliseconds, this);
        ++mPages;
        connect(page, &QObject::destroyed, this, [this] { --mPages; });
    }
}

}  // namespace dorvex::host
