#pragma once
// One page's connection: its own control (property bag, scan list) behind a WebSocket. The
// page's messages are JSON objects, checked before anything is done with them:
//   {"type":"load","bag":{...}|null}               first, after "welcome": ReadProperties or
//                                                  InitProperties
//   {"type":"set","id":N,"name":KEY,"value":V}     a property
//   {"type":"call","id":N,"method":M,"args":[...]} a method; answered when its window closes
// The host sends "welcome" (consent given) or "refused", then "ready", "result", "error" and
// "event" messages.

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <memory>
#include <vector>

#include "control/OrbScan.h"
#include "host/HostServer.h"

namespace dorvex::host {

constexpr int kMaxTextLength = 2048;     // characters of one string argument or property
constexpr int kMaxDocuments = 10000;     // AddInno calls of one page
constexpr int kMaxPages = 9999;          // pages of one document a page may announce

class PageSession : public QObject, private IComponentHost {
    Q_OBJECT
public:
    // `transport` is the connection the WebSocket runs on: the session deletes it after the
    // WebSocket. A page that answers nothing, not even a ping, for `idleMilliseconds` is gone.
    PageSession(QWebSocket* socket, QTcpSocket* transport, std::string origin, Desk& desk, ConsentKeeper& consent,
                int idleMilliseconds, QObject* parent);
    ~PageSession() override;

private:
    enum class Phase { AwaitingConsent, AwaitingLoad, Ready };

    // IComponentHost: the windows are the desk's.
    bool UserMode() const override { return true; }
    void PropertyChanged(const std::string&) override {}
    IPrompter& Prompter() override { return mDesk.windows.Prompter(); }
    void ShowModal(FrmScan& window) override { mDesk.windows.ShowModal(window); }
    void ShowModal(FrmUpload& window) override { mDesk.windows.ShowModal(window); }

    void Consented(bool allowed);
    void Received(const QString& text);
    void Load(const QJsonObject& message);
    void Set(const QJsonObject& message, qint64 id);
    void Call(const QJsonObject& message, qint64 id);
    void Run(qint64 id, const std::string& method, const std::vector<std::string>& texts, std::int32_t pages,
             bool multiPage);
    void Send(const QJsonObject& message);
    void SendError(qint64 id, const QString& code, int number, const QString& text);
    QJsonObject Properties() const;
    // One of the sixteen keys a property bag keeps.
    bool IsProperty(const QString& key) const;
    void Disconnected();
    void Heard() { mHeard.restart(); }
    // Pings the page, and lets it go when it has not answered for the idle time.
    void CheckAlive();
    // Closes the connection for a message that breaks the rules.
    void Violation(const QString& why);

    QPointer<QWebSocket> mSocket;
    QPointer<QTcpSocket> mTransport;
    QTimer mAlive;
    QElapsedTimer mHeard;
    int mIdleMilliseconds;
    std::string mOrigin;
    Desk& mDesk;
    OrbScan mControl;
    Phase mPhase = Phase::AwaitingConsent;
    int mDocuments = 0;
    bool mInCall = false;  // a method of this page is on the stack
    bool mGone = false;    // the page has disconnected
};

}  // namespace dorvex::host
