#include "tests/support/mysqlproxy.h"

#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace TestSupport {

namespace {

// Commands of the client in the MySQL protocol.
constexpr char kQuery = 0x03;
constexpr char kPrepare = 0x16;
constexpr char kExecute = 0x17;

quint32 littleEndian(const QByteArray &bytes, int at, int size)
{
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

// Takes the complete packets (3-byte length, sequence number, payload) off the front of
// `buffer`, as (sequence number, payload).
QVector<QPair<int, QByteArray>> takePackets(QByteArray &buffer)
{
    QVector<QPair<int, QByteArray>> packets;
    int at = 0;
    while (buffer.size() - at >= 4) {
        const int length = int(littleEndian(buffer, at, 3));
        if (buffer.size() - at - 4 < length)
            break;
        packets.append({ quint8(buffer.at(at + 3)), buffer.mid(at + 4, length) });
        at += 4 + length;
    }
    buffer.remove(0, at);
    return packets;
}

} // namespace

// One connection of the program, passed on to the server.
struct ProxyConnection
{
    QPointer<QTcpSocket> client;
    QPointer<QTcpSocket> server;
    QByteArray fromClient; // not yet read as whole packets
    QByteArray fromServer;
    QByteArray heldForServer; // while stalled
    quint32 connectionId = 0; // the server's, from its greeting
    bool greeted = false;
    // A prepare of a watched text is under way: its answer names the statement.
    QByteArray preparing;
    QHash<quint32, QByteArray> prepared; // statement id -> text
    bool cutting = false; // the next answer of the server is dropped and the connection cut
    bool clientCut = false; // cut when sent: the program's side is gone already
    bool answerHeld = false; // what the server sends is held until released
};

class MySqlProxyWorker : public QObject
{
    Q_OBJECT
public:
    MySqlProxyWorker(const QString &host, int port)
        : m_host(host)
        , m_port(port)
    { }

    QMutex mutex; // guards what the test's thread reads and sets below
    QByteArray cutText;
    int cutCountdown = 0;
    bool cutAtSend = false;
    bool holdAnswer = false;
    bool refuseIt = false;
    bool dropPrepare = false;
    int refusals = 0;
    std::function<void(quint32)> whileHeld;
    int cuts = 0;
    int accepted = 0;
    bool stalled = false;
    // New connections: closed at once (the server gone), or told the server is full.
    bool gone = false;
    bool full = false;
    QByteArrayList statements;

public slots:
    quint16 listen()
    {
        m_listener = new QTcpServer(this);
        if (!m_listener->listen(QHostAddress::LocalHost, 0))
            return 0;
        connect(m_listener, &QTcpServer::newConnection, this, &MySqlProxyWorker::accept);
        return m_listener->serverPort();
    }

    void shutDown()
    {
        for (ProxyConnection *connection : qAsConst(m_connections)) {
            if (connection->client)
                connection->client->abort();
            if (connection->server)
                connection->server->abort();
            delete connection;
        }
        m_connections.clear();
        delete m_listener;
        m_listener = nullptr;
    }

    void flush()
    {
        for (ProxyConnection *connection : qAsConst(m_connections)) {
            if (connection->server && !connection->heldForServer.isEmpty())
                connection->server->write(connection->heldForServer);
            connection->heldForServer.clear();
            // What came while held is read now.
            if (connection->client)
                fromClient(connection);
            if (connection->server)
                fromServer(connection);
        }
    }

    // Cuts every open connection (a server gone).
    void cutAll()
    {
        for (ProxyConnection *connection : qAsConst(m_connections)) {
            if (connection->client)
                connection->client->abort();
            if (connection->server)
                connection->server->abort();
        }
    }

private:
    // Whether the prepare of `text` is the one dropAtPrepare() waits for; then `hook` is its
    // hook.
    bool dropsPrepareOf(const QByteArray &text, std::function<void(quint32)> *hook)
    {
        QMutexLocker locker(&mutex);
        if (!dropPrepare || cutCountdown <= 0 || !text.contains(cutText) || --cutCountdown > 0)
            return false;
        dropPrepare = false;
        ++cuts;
        *hook = whileHeld;
        return true;
    }

    bool isStalled()
    {
        QMutexLocker locker(&mutex);
        return stalled;
    }

    void accept()
    {
        while (QTcpSocket *client = m_listener->nextPendingConnection()) {
            bool gone = false;
            bool full = false;
            {
                QMutexLocker locker(&mutex);
                ++accepted;
                gone = this->gone;
                full = this->full;
            }
            if (gone || full) {
                client->setParent(this);
                if (full) {
                    // The server's error packet in place of its greeting: 0xff, the error
                    // code 1040 and its text.
                    const QByteArray payload = QByteArray("\xff\x10\x04", 3)
                        + QByteArray("Too many connections");
                    QByteArray packet;
                    packet.append(char(payload.size())).append('\0').append('\0').append('\0');
                    client->write(packet + payload);
                    client->flush();
                    client->disconnectFromHost();
                } else {
                    client->abort();
                }
                client->deleteLater();
                continue;
            }
            auto *connection = new ProxyConnection;
            connection->client = client;
            connection->server = new QTcpSocket(this);
            m_connections.append(connection);
            client->setParent(this);
            connect(client, &QTcpSocket::readyRead, this,
                    [this, connection] { fromClient(connection); });
            connect(connection->server, &QTcpSocket::readyRead, this,
                    [this, connection] { fromServer(connection); });
            connect(client, &QTcpSocket::disconnected, this, [connection] {
                if (connection->server)
                    connection->server->disconnectFromHost();
            });
            connect(connection->server, &QTcpSocket::connected, this,
                    [this, connection] { toServer(connection, QByteArray()); });
            connect(connection->server, &QTcpSocket::disconnected, this, [connection] {
                if (connection->client)
                    connection->client->disconnectFromHost();
            });
            connection->server->connectToHost(m_host, quint16(m_port));
        }
    }

    void toServer(ProxyConnection *connection, const QByteArray &bytes)
    {
        if (!connection->server)
            return;
        if (isStalled() || connection->server->state() != QAbstractSocket::ConnectedState) {
            connection->heldForServer += bytes;
            return;
        }
        if (!connection->heldForServer.isEmpty() || !bytes.isEmpty())
            connection->server->write(connection->heldForServer + bytes);
        connection->heldForServer.clear();
    }

    void fromClient(ProxyConnection *connection)
    {
        if (isStalled() || !connection->client)
            return;
        connection->fromClient += connection->client->readAll();
        // Packets go on one by one, so that a cut takes effect at its statement.
        const auto packets = takePackets(connection->fromClient);
        for (const auto &packet : packets) {
            QByteArray raw;
            const int length = packet.second.size();
            raw.append(char(length & 0xff)).append(char((length >> 8) & 0xff));
            raw.append(char((length >> 16) & 0xff)).append(char(packet.first));
            raw += packet.second;
            // A command starts with sequence number 0; the handshake's answers do not.
            const QByteArray &payload = packet.second;
            QByteArray text;
            if (packet.first == 0 && !payload.isEmpty()) {
                if (payload.at(0) == kQuery) {
                    text = payload.mid(1);
                } else if (payload.at(0) == kPrepare) {
                    connection->preparing = payload.mid(1);
                    std::function<void(quint32)> hook;
                    if (dropsPrepareOf(connection->preparing, &hook)) {
                        // Nothing of it reaches the server: the connection is gone.
                        if (hook)
                            hook(connection->connectionId);
                        connection->fromClient.clear();
                        disconnect(connection->client, nullptr, this, nullptr);
                        connection->client->abort();
                        if (connection->server)
                            connection->server->abort();
                        return;
                    }
                } else if (payload.at(0) == kExecute && payload.size() >= 5) {
                    text = connection->prepared.value(littleEndian(payload, 1, 4));
                }
            }
            bool cut = false;
            bool atSend = false;
            bool refused = false;
            if (!text.isEmpty()) {
                QMutexLocker locker(&mutex);
                statements.append(text);
                if (!dropPrepare && cutCountdown > 0 && text.contains(cutText)
                    && --cutCountdown == 0) {
                    if (refuseIt) {
                        refused = true;
                        ++refusals;
                    } else if (holdAnswer) {
                        connection->answerHeld = true;
                    } else {
                        cut = true;
                        atSend = cutAtSend;
                        if (atSend)
                            ++cuts;
                    }
                }
            }
            if (refused) {
                // An error packet (sequence 1): code 1180, SQL state HY000, the message.
                const QByteArray message = "Refused by the test proxy";
                QByteArray error;
                error.append(char(0xff)).append(char(1180 & 0xff)).append(char(1180 >> 8));
                error.append("#HY000").append(message);
                QByteArray packet;
                packet.append(char(error.size() & 0xff)).append(char((error.size() >> 8) & 0xff));
                packet.append(char(0)).append(char(1));
                packet += error;
                if (connection->client)
                    connection->client->write(packet);
                continue;
            }
            toServer(connection, raw);
            if (cut) {
                connection->cutting = true;
                // Nothing more of this program's connection reaches the server.
                connection->fromClient.clear();
                disconnect(connection->client, nullptr, this, nullptr);
                if (atSend) {
                    connection->clientCut = true;
                    connection->client->abort();
                }
                return;
            }
        }
    }

    void fromServer(ProxyConnection *connection)
    {
        if (!connection->server)
            return;
        if (connection->cutting) {
            if (connection->server->bytesAvailable() == 0)
                return;
            // The server has answered: the statement ran.
            connection->server->readAll();
            connection->cutting = false;
            if (connection->clientCut) {
                connection->server->abort();
                return;
            }
            std::function<void(quint32)> hook;
            {
                QMutexLocker locker(&mutex);
                hook = whileHeld;
                ++cuts;
            }
            if (hook)
                hook(connection->connectionId);
            connection->server->abort();
            if (connection->client)
                connection->client->abort();
            return;
        }
        if (isStalled())
            return;
        if (connection->answerHeld) {
            QMutexLocker locker(&mutex);
            if (holdAnswer)
                return;
            connection->answerHeld = false;
        }
        const QByteArray bytes = connection->server->readAll();
        connection->fromServer += bytes;
        for (const auto &packet : takePackets(connection->fromServer)) {
            const QByteArray &payload = packet.second;
            if (!connection->greeted) {
                // Protocol version 10, the server's version text, the connection's id.
                connection->greeted = true;
                const int end = payload.indexOf('\0', 1);
                if (!payload.isEmpty() && payload.at(0) == 10 && end > 0
                    && payload.size() >= end + 5)
                    connection->connectionId = littleEndian(payload, end + 1, 4);
            } else if (!connection->preparing.isNull()) {
                // The first answer of a prepare: OK, statement id, ...
                if (!payload.isEmpty() && payload.at(0) == 0 && payload.size() >= 5)
                    connection->prepared.insert(littleEndian(payload, 1, 4), connection->preparing);
                connection->preparing = QByteArray();
            }
        }
        if (connection->client)
            connection->client->write(bytes);
    }

    QString m_host;
    int m_port;
    QTcpServer *m_listener = nullptr;
    QVector<ProxyConnection *> m_connections;
};

MySqlProxy::MySqlProxy(const MySqlServer &server)
    : m_thread(std::make_unique<QThread>())
    , m_server(server)
{
    m_worker = new MySqlProxyWorker(server.host, server.port);
    m_worker->moveToThread(m_thread.get());
    QObject::connect(m_thread.get(), &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
    QMetaObject::invokeMethod(m_worker, &MySqlProxyWorker::listen, Qt::BlockingQueuedConnection,
                              &m_port);
    m_server.host = QStringLiteral("127.0.0.1");
    m_server.port = m_port;
}

MySqlProxy::~MySqlProxy()
{
    QMetaObject::invokeMethod(m_worker, &MySqlProxyWorker::shutDown, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
}

bool MySqlProxy::isListening() const
{
    return m_port != 0;
}

MySqlServer MySqlProxy::server() const
{
    return m_server;
}

void MySqlProxy::cutAfter(const QByteArray &text, int occurrence,
                          const std::function<void(quint32)> &whileHeld)
{
    QMutexLocker locker(&m_worker->mutex);
    m_worker->cutText = text;
    m_worker->cutCountdown = occurrence;
    m_worker->dropPrepare = false;
    m_worker->cutAtSend = false;
    m_worker->holdAnswer = false;
    m_worker->refuseIt = false;
    m_worker->whileHeld = whileHeld;
}

void MySqlProxy::refuse(const QByteArray &text, int occurrence)
{
    QMutexLocker locker(&m_worker->mutex);
    m_worker->cutText = text;
    m_worker->cutCountdown = occurrence;
    m_worker->dropPrepare = false;
    m_worker->cutAtSend = false;
    m_worker->holdAnswer = false;
    m_worker->refuseIt = true;
    m_worker->whileHeld = {};
}

int MySqlProxy::refusals() const
{
    QMutexLocker locker(&m_worker->mutex);
    return m_worker->refusals;
}

void MySqlProxy::holdAnswerTo(const QByteArray &text, int occurrence)
{
    QMutexLocker locker(&m_worker->mutex);
    m_worker->cutText = text;
    m_worker->cutCountdown = occurrence;
    m_worker->dropPrepare = false;
    m_worker->cutAtSend = false;
    m_worker->refuseIt = false;
    m_worker->holdAnswer = true;
    m_worker->whileHeld = {};
}

void MySqlProxy::cutWhenSent(const QByteArray &text, int occurrence)
{
    QMutexLocker locker(&m_worker->mutex);
    m_worker->cutText = text;
    m_worker->cutCountdown = occurrence;
    m_worker->dropPrepare = false;
    m_worker->cutAtSend = true;
    m_worker->holdAnswer = false;
    m_worker->refuseIt = false;
    m_worker->whileHeld = {};
}

void MySqlProxy::dropAtPrepare(const QByteArray &text, int occurrence,
                               const std::function<void(quint32)> &whileHeld)
{
    QMutexLocker locker(&m_worker->mutex);
    m_worker->cutText = text;
    m_worker->cutCountdown = occurrence;
    m_worker->dropPrepare = true;
    m_worker->cutAtSend = false;
    m_worker->holdAnswer = false;
    m_worker->refuseIt = false;
    m_worker->whileHeld = whileHeld;
}

int MySqlProxy::cuts() const
{
    QMutexLocker locker(&m_worker->mutex);
    return m_worker->cuts;
}

int MySqlProxy::connectionsAccepted() const
{
    QMutexLocker locker(&m_worker->mutex);
    return m_worker->accepted;
}

int MySqlProxy::statementsSeen(const QByteArray &text) const
{
    QMutexLocker locker(&m_worker->mutex);
    int seen = 0;
    for (const QByteArray &statement : qAsConst(m_worker->statements))
        seen += statement.contains(text) ? 1 : 0;
    return seen;
}

void MySqlProxy::goAway()
{
    {
        QMutexLocker locker(&m_worker->mutex);
        m_worker->gone = true;
    }
    QMetaObject::invokeMethod(m_worker, &MySqlProxyWorker::cutAll, Qt::BlockingQueuedConnection);
}

void MySqlProxy::refuseNewConnections()
{
    QMutexLocker locker(&m_worker->mutex);
    m_worker->full = true;
}

void MySqlProxy::comeBack()
{
    QMutexLocker locker(&m_worker->mutex);
    m_worker->gone = false;
    m_worker->full = false;
}

void MySqlProxy::stall()
{
    QMutexLocker locker(&m_worker->mutex);
    m_worker->stalled = true;
}

void MySqlProxy::release()
{
    {
        QMutexLocker locker(&m_worker->mutex);
        m_worker->stalled = false;
        m_worker->holdAnswer = false;
    }
    QMetaObject::invokeMethod(m_worker, &MySqlProxyWorker::flush, Qt::QueuedConnection);
}

} // namespace TestSupport

#include "mysqlproxy.moc"
