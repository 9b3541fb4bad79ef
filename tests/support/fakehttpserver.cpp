#include "tests/support/fakehttpserver.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>

#include "core/config.h"
#include "core/gzip.h"

namespace TestSupport {

// ---- FakeReply, RecordedRequest ----------------------------------------------------------

FakeReply FakeReply::ok(const QByteArray &body, const QByteArray &contentType)
{
    FakeReply reply;
    reply.body = body;
    reply.headers.append({ QByteArrayLiteral("Content-Type"), contentType });
    return reply;
}

FakeReply FakeReply::withStatus(int status, const QByteArray &body)
{
    FakeReply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

FakeReply FakeReply::redirect(const QByteArray &location, int status)
{
    FakeReply reply;
    reply.status = status;
    reply.headers.append({ QByteArrayLiteral("Location"), location });
    return reply;
}

FakeReply FakeReply::dropped()
{
    FakeReply reply;
    reply.drop = true;
    return reply;
}

FakeReply &FakeReply::header(const QByteArray &name, const QByteArray &value)
{
    headers.append({ name, value });
    return *this;
}

FakeReply &FakeReply::gzipped()
{
    gzip = true;
    return *this;
}

FakeReply &FakeReply::withoutLength()
{
    unannounced = true;
    return *this;
}

FakeReply &FakeReply::delayed(int milliseconds)
{
    delayMs = milliseconds;
    return *this;
}

FakeReply &FakeReply::neverInTime()
{
    // An hour: far beyond the longest time a test program may run.
    return delayed(60 * 60 * 1000);
}

QString RecordedRequest::callName() const
{
    return QString::fromUtf8(header(QByteArrayLiteral("X-EBAY-API-CALL-NAME")).trimmed());
}

QString RecordedRequest::queryItem(const QString &name) const
{
    return QUrlQuery(query).queryItemValue(name, QUrl::FullyDecoded);
}

// ---- the server's thread -----------------------------------------------------------------

namespace {

struct Route
{
    QList<FakeReply> queue;
    FakeHttpServer::Handler handler;
};

QByteArray reasonPhrase(int status)
{
    static const QHash<int, QByteArray> phrases = {
        { 200, "OK" },
        { 201, "Created" },
        { 204, "No Content" },
        { 301, "Moved Permanently" },
        { 302, "Found" },
        { 303, "See Other" },
        { 304, "Not Modified" },
        { 307, "Temporary Redirect" },
        { 308, "Permanent Redirect" },
        { 400, "Bad Request" },
        { 401, "Unauthorized" },
        { 403, "Forbidden" },
        { 404, "Not Found" },
        { 500, "Internal Server Error" },
        { 501, "Not Implemented" },
        { 502, "Bad Gateway" },
        { 503, "Service Unavailable" },
    };
    return phrases.value(status, QByteArrayLiteral("Status"));
}

bool hasHeader(const QList<QPair<QByteArray, QByteArray>> &headers, const QByteArray &name)
{
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

FakeReply notFound()
{
    return FakeReply::withStatus(404);
}

bool listsAnItem(const QString &callName)
{
    return callName == QLatin1String("AddItem") || callName == QLatin1String("AddFixedPriceItem")
        || callName == QLatin1String("RelistItem")
        || callName == QLatin1String("RelistFixedPriceItem");
}

// The text of the first element `name` of an XML text; empty when there is none.
QByteArray elementText(const QByteArray &xml, const QByteArray &name)
{
    const QByteArray open = '<' + name + '>';
    const int start = xml.indexOf(open);
    if (start < 0)
        return QByteArray();
    const int end = xml.indexOf("</" + name + '>', start);
    return end < 0 ? QByteArray() : xml.mid(start + open.size(), end - start - open.size()).trimmed();
}

FakeReply repeatedUuid(const QString &callName, const QByteArray &itemId)
{
    const QByteArray root = callName.toUtf8() + "Response";
    return FakeReply::ok(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><" + root
            + " xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Failure</Ack><Errors>"
              "<ShortMessage>Duplicate UUID used.</ShortMessage><LongMessage>The specified UUID "
              "has already been used; ListedByRequestAppId=1, item ID="
            + itemId
            + ".</LongMessage><ErrorCode>488</ErrorCode><SeverityCode>Error</SeverityCode>"
              "<ErrorParameters ParamID=\"0\"><Value>1</Value></ErrorParameters>"
              "<ErrorParameters ParamID=\"1\"><Value>"
            + itemId
            + "</Value></ErrorParameters><ErrorClassification>RequestError"
              "</ErrorClassification></Errors><Version>1423</Version></"
            + root + '>',
        "text/xml; charset=utf-8");
}

} // namespace

class FakeHttpServerThread : public QThread
{
public:
    // Shared with the test's thread; every member below is guarded by `mutex`. (Standard
    // types rather than QMutex: ThreadSanitizer sees through them.)
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool started = false;
    quint16 port = 0;
    QHash<QString, Route> pathRoutes;
    QHash<QString, Route> callRoutes;
    FakeReply defaultReply = notFound();
    QList<RecordedRequest> requests;
    // Item.UUID -> ItemID of the listings made.
    QHash<QByteArray, QByteArray> listedUuids;
    // Held calls and the answers waiting for their release, by call name.
    QSet<QString> heldCalls;
    QHash<QString, QList<std::function<void()>>> parked;
    QObject *dispatcher = nullptr; // lives on the server's thread while it runs
    int connections = 0; // used on the server's thread only

    // Starts the thread and waits until it listens (or failed to).
    void startAndWait()
    {
        start();
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return started; });
    }

    // Records the request and picks its reply (called on the server's thread).
    FakeReply answerFor(const RecordedRequest &request)
    {
        const QString callName = request.callName();
        const QByteArray uuid
            = listsAnItem(callName) ? elementText(request.body, "UUID") : QByteArray();
        FakeReply reply = routedReply(request, uuid);
        if (!uuid.isEmpty() && !reply.body.contains("<ErrorCode>488</ErrorCode>")) {
            const bool listed = reply.body.contains("<Ack>Success</Ack>")
                || reply.body.contains("<Ack>Warning</Ack>");
            const QByteArray itemId = elementText(reply.body, "ItemID");
            std::lock_guard<std::mutex> lock(mutex);
            if (listed && !itemId.isEmpty() && !listedUuids.contains(uuid))
                listedUuids.insert(uuid, itemId);
        }
        return reply;
    }

    FakeReply routedReply(const RecordedRequest &request, const QByteArray &uuid)
    {
        FakeHttpServer::Handler handler;
        {
            std::lock_guard<std::mutex> lock(mutex);
            requests.append(request);
            changed.notify_all();

            const QString callName = request.callName();
            if (!uuid.isEmpty() && listedUuids.contains(uuid))
                return repeatedUuid(callName, listedUuids.value(uuid));
            Route *route = nullptr;
            if (!callName.isEmpty() && callRoutes.contains(callName))
                route = &callRoutes[callName];
            else if (pathRoutes.contains(request.path))
                route = &pathRoutes[request.path];
            if (!route)
                return defaultReply;
            if (!route->handler) {
                if (route->queue.isEmpty())
                    return defaultReply;
                return route->queue.size() > 1 ? route->queue.takeFirst() : route->queue.first();
            }
            handler = route->handler;
        }
        // Outside the lock: a handler may call the server.
        return handler(request);
    }

    // Keeps `answer` until the call is released; false when the call is not held.
    bool park(const QString &callName, const std::function<void()> &answer)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!heldCalls.contains(callName))
            return false;
        parked[callName].append(answer);
        return true;
    }

protected:
    void run() override;
};

namespace {

// One client connection: reads requests one after the other and answers each in turn.
class Connection : public QObject
{
public:
    Connection(QTcpSocket *socket, FakeHttpServerThread *server)
        : QObject(socket)
        , m_socket(socket)
        , m_server(server)
        , m_number(++server->connections)
    {
        connect(socket, &QTcpSocket::readyRead, this, &Connection::readMore);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    void readMore()
    {
        m_buffer += m_socket->readAll();
        processNext();
    }

    void processNext()
    {
        if (m_busy)
            return;
        const int headEnd = m_buffer.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (m_buffer.size() > 1024 * 1024)
                m_socket->abort();
            return;
        }

        const QList<QByteArray> lines = m_buffer.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        if (requestLine.size() != 3) {
            sendBadRequest(400);
            return;
        }
        RecordedRequest request;
        request.connection = m_number;
        request.method = requestLine.at(0);
        QByteArray target = requestLine.at(1);
        if (target.startsWith("http://") || target.startsWith("https://")) {
            const QUrl absolute = QUrl::fromEncoded(target);
            target = absolute.path(QUrl::FullyEncoded).toLatin1();
            if (absolute.hasQuery())
                target += '?' + absolute.query(QUrl::FullyEncoded).toLatin1();
        }
        const int question = target.indexOf('?');
        request.path = QUrl::fromPercentEncoding(question < 0 ? target : target.left(question));
        request.query = question < 0 ? QString() : QString::fromLatin1(target.mid(question + 1));
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const int colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (request.headers.contains(name))
                request.headers[name] += ", " + value;
            else
                request.headers.insert(name, value);
        }
        if (request.header(QByteArrayLiteral("Transfer-Encoding")).toLower().contains("chunked")) {
            sendBadRequest(501);
            return;
        }
        bool lengthOk = true;
        const QByteArray lengthText = request.header(QByteArrayLiteral("Content-Length"));
        const int length = lengthText.isEmpty() ? 0 : lengthText.toInt(&lengthOk);
        if (!lengthOk || length < 0) {
            sendBadRequest(400);
            return;
        }
        if (m_buffer.size() < headEnd + 4 + length)
            return; // the body is still on its way
        request.body = m_buffer.mid(headEnd + 4, length);
        m_buffer.remove(0, headEnd + 4 + length);

        const QByteArray version = requestLine.at(2).toUpper();
        const QByteArray connection = request.header(QByteArrayLiteral("Connection")).toLower();
        const bool keepAlive = version == "HTTP/1.0" ? connection.contains("keep-alive")
                                                     : !connection.contains("close");
        const bool head = request.method == "HEAD";

        const FakeReply reply = m_server->answerFor(request);
        m_busy = true;
        const QPointer<Connection> self(this);
        if (m_server->park(request.callName(), [self, reply, keepAlive, head] {
                if (self)
                    self->answer(reply, keepAlive, head);
            }))
            return;
        if (reply.delayMs > 0) {
            QTimer::singleShot(reply.delayMs, this,
                               [this, reply, keepAlive, head] { answer(reply, keepAlive, head); });
        } else {
            answer(reply, keepAlive, head);
        }
    }

    void answer(const FakeReply &reply, bool keepAlive, bool head)
    {
        m_busy = false;
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        if (reply.drop) {
            m_buffer.clear();
            m_socket->disconnectFromHost();
            return;
        }

        const QByteArray body = reply.gzip ? Gzip::compress(reply.body) : reply.body;
        const bool noBody = head || reply.status == 204 || reply.status == 304
            || (reply.status >= 100 && reply.status < 200);
        QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' '
            + reasonPhrase(reply.status) + "\r\n";
        if (!hasHeader(reply.headers, QByteArrayLiteral("Content-Type")))
            out += "Content-Type: text/plain; charset=utf-8\r\n";
        if (reply.unannounced)
            keepAlive = false;
        else if (!hasHeader(reply.headers, QByteArrayLiteral("Content-Length")))
            out += "Content-Length: " + QByteArray::number(noBody ? 0 : body.size()) + "\r\n";
        if (reply.gzip)
            out += "Content-Encoding: gzip\r\n";
        // A Connection header of the reply decides; "close" ends the connection.
        for (const auto &header : reply.headers) {
            if (header.first.compare("Connection", Qt::CaseInsensitive) == 0
                && header.second.toLower().contains("close"))
                keepAlive = false;
        }
        if (!hasHeader(reply.headers, QByteArrayLiteral("Connection")))
            out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
        for (const auto &header : reply.headers)
            out += header.first + ": " + header.second + "\r\n";
        out += "\r\n";
        if (!noBody)
            out += body;
        m_socket->write(out);

        if (!keepAlive) {
            m_buffer.clear();
            m_socket->disconnectFromHost();
            return;
        }
        if (!m_buffer.isEmpty())
            processNext();
    }

    void sendBadRequest(int status)
    {
        m_buffer.clear();
        m_socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status)
                        + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        m_socket->disconnectFromHost();
    }

    QTcpSocket *m_socket;
    FakeHttpServerThread *m_server;
    const int m_number;
    QByteArray m_buffer;
    bool m_busy = false;
};

} // namespace

void FakeHttpServerThread::run()
{
    // Everything of the listener lives on this thread and goes when run() returns.
    QTcpServer server;
    const bool listening = server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
        while (QTcpSocket *socket = server.nextPendingConnection())
            new Connection(socket, this);
    });
    {
        std::lock_guard<std::mutex> lock(mutex);
        port = listening ? server.serverPort() : 0;
        dispatcher = &server;
        started = true;
        changed.notify_all();
    }
    if (listening)
        exec();
    std::lock_guard<std::mutex> lock(mutex);
    dispatcher = nullptr;
}

// ---- FakeHttpServer ------------------------------------------------------------------------

FakeHttpServer::FakeHttpServer()
    : m_thread(std::make_unique<FakeHttpServerThread>())
{
    m_thread->setObjectName(QStringLiteral("FakeHttpServer"));
    m_thread->startAndWait();
}

FakeHttpServer::~FakeHttpServer()
{
    for (auto it = m_savedEnvironment.cbegin(); it != m_savedEnvironment.cend(); ++it) {
        if (it.value().first)
            qputenv(it.key().constData(), it.value().second);
        else
            qunsetenv(it.key().constData());
    }
    m_thread->quit();
    m_thread->wait();
}

bool FakeHttpServer::isListening() const
{
    return port() != 0;
}

quint16 FakeHttpServer::port() const
{
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    return m_thread->port;
}

QUrl FakeHttpServer::url(const QString &path) const
{
    QString text = QStringLiteral("http://127.0.0.1:%1").arg(port());
    if (!path.isEmpty()) {
        if (!path.startsWith(QLatin1Char('/')))
            text += QLatin1Char('/');
        text += path;
    }
    return QUrl(text);
}

void FakeHttpServer::setReply(const QString &path, const FakeReply &reply)
{
    setReplies(path, { reply });
}

void FakeHttpServer::setReplies(const QString &path, const QList<FakeReply> &replies)
{
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    m_thread->pathRoutes.insert(path, Route { replies, {} });
}

void FakeHttpServer::setHandler(const QString &path, const Handler &handler)
{
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    m_thread->pathRoutes.insert(path, Route { {}, handler });
}

void FakeHttpServer::setCallReply(const QString &callName, const FakeReply &reply)
{
    setCallReplies(callName, { reply });
}

void FakeHttpServer::setCallReplies(const QString &callName, const QList<FakeReply> &replies)
{
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    m_thread->callRoutes.insert(callName, Route { replies, {} });
}

void FakeHttpServer::setCallHandler(const QString &callName, const Handler &handler)
{
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    m_thread->callRoutes.insert(callName, Route { {}, handler });
}

void FakeHttpServer::setDefaultReply(const FakeReply &reply)
{
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    m_thread->defaultReply = reply;
}

void FakeHttpServer::holdCall(const QString &callName)
{
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    m_thread->heldCalls.insert(callName);
}

void FakeHttpServer::releaseCall(const QString &callName)
{
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    m_thread->heldCalls.remove(callName);
    const QList<std::function<void()>> answers = m_thread->parked.take(callName);
    if (m_thread->dispatcher && !answers.isEmpty()) {
        QMetaObject::invokeMethod(
            m_thread->dispatcher,
            [answers] {
                for (const auto &answer : answers)
                    answer();
            },
            Qt::QueuedConnection);
    }
}

void FakeHttpServer::clearRoutes()
{
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    m_thread->pathRoutes.clear();
    m_thread->callRoutes.clear();
    m_thread->defaultReply = notFound();
}

QList<RecordedRequest> FakeHttpServer::requests() const
{
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    return m_thread->requests;
}

RecordedRequest FakeHttpServer::lastRequest() const
{
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    return m_thread->requests.isEmpty() ? RecordedRequest() : m_thread->requests.last();
}

int FakeHttpServer::requestCount() const
{
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    return m_thread->requests.size();
}

void FakeHttpServer::clearRequests()
{
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    m_thread->requests.clear();
}

bool FakeHttpServer::waitForRequests(int count, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_thread->mutex);
            if (m_thread->requests.size() >= count)
                return true;
            if (deadline.hasExpired())
                return false;
            m_thread->changed.wait_for(lock, std::chrono::milliseconds(5));
        }
        // The client may live on this thread and needs its events to send.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

void FakeHttpServer::pointConfigHere()
{
    const QList<Config::Key> keys = Config::allKeys();
    for (Config::Key key : keys) {
        if (!Config::isAddress(key))
            continue;
        const QByteArray name = Config::environmentVariable(key).toLatin1();
        if (!m_savedEnvironment.contains(name))
            m_savedEnvironment.insert(
                name, { qEnvironmentVariableIsSet(name.constData()), qgetenv(name.constData()) });
        const QString path = QUrl(Config::defaultValue(key)).path();
        qputenv(name.constData(), url(path).toString().toUtf8());
    }
    // The program sends nothing to the marketplace without its developer keys.
    for (Config::Key key :
         { Config::Key::DevId, Config::Key::AppId, Config::Key::CertId, Config::Key::DevIdSandbox,
           Config::Key::AppIdSandbox, Config::Key::CertIdSandbox }) {
        const QByteArray name = Config::environmentVariable(key).toLatin1();
        if (Config::isConfigured(key))
            continue;
        if (!m_savedEnvironment.contains(name))
            m_savedEnvironment.insert(
                name, { qEnvironmentVariableIsSet(name.constData()), qgetenv(name.constData()) });
        qputenv(name.constData(), "test-" + name.toLower());
    }
}

} // namespace TestSupport
