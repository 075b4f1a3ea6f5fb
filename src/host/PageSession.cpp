#include "host/PageSession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <array>
#include <cmath>

#include "support/Error.h"
#include "support/Trace.h"
#include "ui/QtHost.h"

namespace dorvex::host {
namespace {

// The methods a page may call, with their arguments: s string, i whole number, b boolean.
struct MethodSpec {
    const char* name;
    const char* args;
};
constexpr std::array<MethodSpec, 10> kMethods{{
    {"AddInno", "sibs"},
    {"ShowMultiTwain", "s"},
    {"ShowMultiTwainA", ""},
    {"ShowMultiEdit", "s"},
    {"ShowSingleTwain", ""},
    {"ShowSingleTwainA", ""},
    {"ShowSingleTwainB", ""},
    {"ShowSimpleEdit", ""},
    {"UploadDir", "s"},
    {"UploadFileWithInno", "s"},
}};

const MethodSpec* FindMethod(const QString& name) {
    for (const MethodSpec& spec : kMethods) {
        if (name == QLatin1String(spec.name)) return &spec;
    }
    return nullptr;
}

// A property value as text: a short string, or a boolean ("True"/"False" as a bag keeps it).
bool ValueText(const QJsonValue& value, std::string& text) {
    if (value.isBool()) {
        text = value.toBool() ? "True" : "False";
        return true;
    }
    if (!value.isString() || value.toString().size() > kMaxTextLength) return false;
    text = value.toString().toStdString();
    return true;
}

// Not empty, no folder separator, not "." or "..", no control character.
bool IsDocumentNumber(const std::string& text) {
    if (text.empty() || text == "." || text == ".." || text.find('/') != std::string::npos) return false;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) return false;
    }
    return true;
}

bool IsWholeNumber(const QJsonValue& value) {
    if (!value.isDouble()) return false;
    double number = value.toDouble();
    return std::isfinite(number) && number == std::floor(number) && std::fabs(number) <= 2147483647.0;
}

}  // namespace

PageSession::PageSession(QWebSocket* socket, QTcpSocket* transport, std::string origin, Desk& desk,
                         ConsentKeeper& consent, int idleMilliseconds, QObject* parent)
    : QObject(parent),
      mSocket(socket),
      mTransport(transport),
      mIdleMilliseconds(idleMilliseconds),
      mOrigin(std::move(origin)),
      mDesk(desk),
      mControl(*this) {
    socket->setParent(this);
    transport->setParent(this);
    mHeard.start();
    connect(socket, &QWebSocket::textMessageReceived, this, &PageSession::Heard);
    connect(socket, &QWebSocket::binaryMessageReceived, this, &PageSession::Heard);
    connect(socket, &QWebSocket::pong, this, &PageSession::Heard);
    connect(&mAlive, &QTimer::timeout, this, &PageSession::CheckAlive);
    mAlive.start(std::max(100, mIdleMilliseconds / 4));
    connect(socket, &QWebSocket::textMessageReceived, this, &PageSession::Received);
    connect(socket, &QWebSocket::binaryMessageReceived, this, [this] { Violation("binary messages are not spoken"); });
    connect(socket, &QWebSocket::disconnected, this, &PageSession::Disconnected);
    ui::RelayEvents(mControl, [this](const QJsonObject& message) { Send(message); });
    QPointer<PageSession> self(this);
    consent.Request(mOrigin, [self](bool allowed) {
        if (self) self->Consented(allowed);
    });
}

PageSession::~PageSession() {
    // The WebSocket still writes to its connection while it goes; the connection goes after it.
    delete mSocket.data();
    delete mTransport.data();
}

void PageSession::CheckAlive() {
    if (!mSocket || mSocket->state() != QAbstractSocket::ConnectedState) return;
    if (mHeard.elapsed() < mIdleMilliseconds) {
        mSocket->ping();
        return;
    }
    DebugTrace("host: a page answered nothing for " + std::to_string(mHeard.elapsed() / 1000) + " s; closing it");
    // A peer that answers nothing would not take a closing handshake either.
    mSocket->abort();
}

void PageSession::Consented(bool allowed) {
    if (mGone) return;
    if (!allowed) {
        DebugTrace("host: the person did not allow " + mOrigin);
        Send({{"type", "refused"},
              {"message", QString::fromStdString("The person at this desk did not allow " + mOrigin +
                                                 " to use the scanner.")}});
        mSocket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("not allowed"));
        return;
    }
    mPhase = Phase::AwaitingLoad;
    Send({{"type", "welcome"}});
}

void PageSession::Received(const QString& text) {
    QJsonParseError error{};
    QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return Violation("a message is one JSON object");
    QJsonObject message = doc.object();
    QString type = message.value("type").toString();
    if (mPhase == Phase::AwaitingConsent) return Violation("wait for \"welcome\"");
    if (mPhase == Phase::AwaitingLoad) {
        if (type != "load") return Violation("the first message is \"load\"");
        return Load(message);
    }
    QJsonValue id = message.value("id");
    if (!IsWholeNumber(id) || id.toDouble() < 1) return Violation("a message needs a whole positive \"id\"");
    if (type == "set") return Set(message, static_cast<qint64>(id.toDouble()));
    if (type == "call") return Call(message, static_cast<qint64>(id.toDouble()));
    Violation("unknown message type");
}

void PageSession::Load(const QJsonObject& message) {
    QJsonValue bag = message.value("bag");
    if (bag.isNull() || bag.isUndefined()) {
        mControl.InitProperties();
    } else if (bag.isObject()) {
        PropertyBag values;
        const QJsonObject object = bag.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            std::string text;
            if (!IsProperty(it.key())) return Violation("the control has no property '" + it.key().left(64) + "'");
            if (!ValueText(it.value(), text)) return Violation("'" + it.key() + "' must be a short string or a boolean");
            values.WriteString(it.key().toStdString(), text);
        }
        mControl.ReadProperties(values);
    } else {
        return Violation("\"bag\" is an object or null");
    }
    mPhase = Phase::Ready;
    Send({{"type", "ready"}, {"properties", Properties()}});
}

void PageSession::Set(const QJsonObject& message, qint64 id) {
    QString name = message.value("name").toString();
    std::string text;
    if (!IsProperty(name)) return Violation("the control has no property '" + name.left(64) + "'");
    if (!ValueText(message.value("value"), text)) return Violation("'" + name + "' must be a short string or a boolean");
    try {
        mControl.SetByKey(name.toStdString(), text);
    } catch (const DorvexError& e) {
        return SendError(id, "control", e.Number(), QString::fromStdString(e.what()));
    }
    Send({{"type", "result"}, {"id", id}, {"properties", Properties()}});
}

void PageSession::Call(const QJsonObject& message, qint64 id) {
    const MethodSpec* spec = FindMethod(message.value("method").toString());
    if (spec == nullptr) return Violation("unknown method");
    QJsonArray args = message.value("args").toArray();
    std::string kinds = spec->args;
    if (!message.value("args").isArray() || args.size() != static_cast<qsizetype>(kinds.size())) {
        return Violation(QString("%1 takes %2 argument(s)").arg(spec->name).arg(kinds.size()));
    }
    std::vector<std::string> texts(kinds.size());
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        QJsonValue arg = args.at(static_cast<qsizetype>(i));
        bool ok = kinds[i] == 's'   ? arg.isString() && arg.toString().size() <= kMaxTextLength
                  : kinds[i] == 'i' ? IsWholeNumber(arg)
                                    : arg.isBool();
        if (!ok) return Violation(QString("argument %1 of %2 has the wrong type").arg(i + 1).arg(spec->name));
        if (kinds[i] == 's') texts[i] = arg.toString().toStdString();
    }
    std::string method = spec->name;
    bool flag = method == "AddInno" && args.at(2).toBool();
    auto pages = method == "AddInno" ? static_cast<std::int32_t>(args.at(1).toDouble()) : 0;
    // A document number names a file in the folder the person picks: it must stay a name
    // there. A page count sizes downloads and files: it stays within what a letter can have.
    if ((method == "AddInno" || method == "UploadFileWithInno") && !IsDocumentNumber(texts[0])) {
        return Violation(QString("%1: the document number must be a plain name").arg(spec->name));
    }
    if (method == "AddInno" && (pages < 0 || pages > kMaxPages)) {
        return Violation(QString("AddInno: the page count must lie in 0..%1").arg(kMaxPages));
    }
    // Run from the event loop, not from inside the socket's message handling: a window's
    // modal loop must not re-enter the socket that delivered the call.
    QMetaObject::invokeMethod(
        this, [this, id, method, texts, flag, pages] { Run(id, method, texts, pages, flag); }, Qt::QueuedConnection);
}

void PageSession::Run(qint64 id, const std::string& method, const std::vector<std::string>& texts,
                      std::int32_t pages, bool multiPage) {
    if (mGone) return;
    // One window at a time on the desk; AddInno opens none but waits for this page's own window.
    if (mInCall || (mDesk.busy && method != "AddInno")) {
        return SendError(id, "busy", 0, "Another Dorvex window is open on this desk; wait until it is closed.");
    }
    if (method == "AddInno" && ++mDocuments > kMaxDocuments) {
        return SendError(id, "limit", 0, "Too many documents for one page.");
    }
    bool window = method != "AddInno";
    if (window) mDesk.busy = true;
    mInCall = true;
    QString code;
    int number = 0;
    QString failure;
    try {
        if (method == "AddInno") mControl.AddInno(texts[0], pages, multiPage, texts[3]);
        else if (method == "ShowMultiTwain") mControl.ShowMultiTwain(texts[0]);
        else if (method == "ShowMultiTwainA") mControl.ShowMultiTwainA();
        else if (method == "ShowMultiEdit") mControl.ShowMultiEdit(texts[0]);
        else if (method == "ShowSingleTwain") mControl.ShowSingleTwain();
        else if (method == "ShowSingleTwainA") mControl.ShowSingleTwainA();
        else if (method == "ShowSingleTwainB") mControl.ShowSingleTwainB();
        else if (method == "ShowSimpleEdit") mControl.ShowSimpleEdit();
        else if (method == "UploadDir") mControl.UploadDir(texts[0]);
        else if (method == "UploadFileWithInno") mControl.UploadFileWithInno(texts[0]);
    } catch (const DorvexError& e) {
        code = "control";
        number = e.Number();
        failure = QString::fromStdString(e.what());
    } catch (const std::exception& e) {
        code = "failed";
        failure = QString::fromStdString(e.what());
    }
    if (window) mDesk.busy = false;
    mInCall = false;
    if (mGone) {
        // The page left while its window was open: the window stayed with the person until now.
        deleteLater();
        return;
    }
    if (!code.isEmpty()) return SendError(id, code, number, failure);
    Send({{"type", "result"}, {"id", id}, {"properties", Properties()}});
}

bool PageSession::IsProperty(const QString& key) const {
    PropertyBag keys;
    mControl.WriteProperties(keys);
    return keys.Has(key.toStdString());
}

QJsonObject PageSession::Properties() const {
    PropertyBag bag;
    mControl.WriteProperties(bag);
    QJsonObject properties;
    for (const auto& [key, value] : bag.Values()) {
        QString name = QString::fromStdString(key);
        bool flag = key == "OnlyScanList" || key == "EnableOverWrite" || key == "EnablePageUpdater" ||
                    key == "EnableTopMost" || key == "EnableOCR" || key == "ScanListVisible";
        properties.insert(name, flag ? QJsonValue(value == "True") : QJsonValue(QString::fromStdString(value)));
    }
    return properties;
}

void PageSession::Send(const QJsonObject& message) {
    if (mSocket && mSocket->state() == QAbstractSocket::ConnectedState) {
        mSocket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    }
}

void PageSession::SendError(qint64 id, const QString& code, int number, const QString& text) {
    Send({{"type", "error"}, {"id", id}, {"code", code}, {"number", number}, {"message", text}});
}

void PageSession::Violation(const QString& why) {
    DebugTrace("host: closing a page connection: " + why.toStdString());
    Send({{"type", "error"}, {"code", "protocol"}, {"message", why}});
    if (mSocket) mSocket->close(QWebSocketProtocol::CloseCodePolicyViolated, why.left(100));
}

void PageSession::Disconnected() {
    mGone = true;
    if (mSocket) mSocket->deleteLater();
    if (!mInCall) deleteLater();
}

}  // namespace dorvex::host
