// The fake server the network tests rely on, checked with a plain blocking socket: the
// test's thread never runs an event loop while it waits for an answer.
#include "core/gzip.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testmain.h"

#include <QElapsedTimer>
#include <QTcpSocket>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

namespace {

struct Answer
{
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
    bool closed = false; // the server closed without (complete) answer
};

// Reads one answer from a blocking socket.
Answer readAnswer(QTcpSocket &socket)
{
    Answer answer;
    QByteArray buffer;
    int headEnd = -1;
    while ((headEnd = buffer.indexOf("\r\n\r\n")) < 0) {
        if (!socket.waitForReadyRead(5000)) {
            answer.closed = true;
            return answer;
        }
        buffer += socket.readAll();
    }
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    answer.status = lines.value(0).split(' ').value(1).toInt();
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        answer.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                              lines.at(i).mid(colon + 1).trimmed());
    }
    const int length = answer.headers.value("content-length").toInt();
    buffer.remove(0, headEnd + 4);
    while (buffer.size() < length) {
        if (!socket.waitForReadyRead(5000)) {
            answer.closed = true;
            return answer;
        }
        buffer += socket.readAll();
    }
    answer.body = buffer.left(length);
    return answer;
}

void sendRequest(QTcpSocket &socket, const QByteArray &method, const QByteArray &target,
                 const QByteArray &extraHeaders = QByteArray(),
                 const QByteArray &body = QByteArray())
{
    QByteArray out = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders;
    if (!body.isEmpty())
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "\r\n" + body;
    socket.write(out);
    socket.waitForBytesWritten(5000);
}

Answer roundTrip(QTcpSocket &socket, const QByteArray &method, const QByteArray &target,
                 const QByteArray &extraHeaders = QByteArray(),
                 const QByteArray &body = QByteArray())
{
    sendRequest(socket, method, target, extraHeaders, body);
    return readAnswer(socket);
}

} // namespace

class TestFakeHttpServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void recordsRequestsOverKeepAlive();
    void bodyArrivingInPieces();
    void queueIsConsumedAndLastRepeats();
    void callNameRouteWinsOverPath();
    void defaultReplyForUnmatched();
    void gzipDelayAndDrop();
    void handlerComputesReply();
    void connectionCloseEndsConnection();
    void urlBuildsAddresses();

private:
    FakeHttpServer m_server;
};

void TestFakeHttpServer::init()
{
    m_server.clearRoutes();
    m_server.clearRequests();
}

void TestFakeHttpServer::recordsRequestsOverKeepAlive()
{
    m_server.setReply(QStringLiteral("/eins"), FakeReply::ok("1"));
    m_server.setReply(QStringLiteral("/zwei teil"), FakeReply::ok("2").header("X-Zwei", "ja"));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port());
    QVERIFY(socket.waitForConnected(5000));

    Answer answer = roundTrip(socket, "GET", "/eins?a=1&b=%C3%A4", "X-Mixed-Case: Wert\r\n");
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, QByteArray("1"));
    QCOMPARE(answer.headers.value("connection"), QByteArray("keep-alive"));

    answer = roundTrip(socket, "POST", "/zwei%20teil", "Content-Type: text/xml\r\n", "<a>b</a>");
    QCOMPARE(answer.body, QByteArray("2"));
    QCOMPARE(answer.headers.value("x-zwei"), QByteArray("ja"));

    const QList<RecordedRequest> requests = m_server.requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.at(0).method, QByteArray("GET"));
    QCOMPARE(requests.at(0).path, QStringLiteral("/eins"));
    QCOMPARE(requests.at(0).query, QStringLiteral("a=1&b=%C3%A4"));
    QCOMPARE(requests.at(0).queryItem(QStringLiteral("b")), QStringLiteral("ä"));
    QVERIFY(requests.at(0).headers.contains("x-mixed-case"));
    QCOMPARE(requests.at(0).header("X-MIXED-CASE"), QByteArray("Wert"));
    QCOMPARE(requests.at(1).method, QByteArray("POST"));
    QCOMPARE(requests.at(1).path, QStringLiteral("/zwei teil"));
    QCOMPARE(requests.at(1).body, QByteArray("<a>b</a>"));
    QCOMPARE(m_server.lastRequest().header("content-type"), QByteArray("text/xml"));

    m_server.clearRequests();
    QCOMPARE(m_server.requestCount(), 0);
    QCOMPARE(m_server.lastRequest().method, QByteArray());
}

void TestFakeHttpServer::bodyArrivingInPieces()
{
    m_server.setReply(QStringLiteral("/stueck"), FakeReply::ok("ganz"));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port());
    QVERIFY(socket.waitForConnected(5000));
    const QByteArray body(20000, 'b');
    socket.write("POST /stueck HTTP/1.1\r\nHost: x\r\nContent-Length: 20000\r\n\r\n");
    socket.write(body.left(7000));
    QVERIFY(socket.waitForBytesWritten(5000));
    QVERIFY(!m_server.waitForRequests(1, 200)); // not complete yet
    socket.write(body.mid(7000));
    const Answer answer = readAnswer(socket);
    QCOMPARE(answer.body, QByteArray("ganz"));
    QCOMPARE(m_server.lastRequest().body, body);
}

void TestFakeHttpServer::queueIsConsumedAndLastRepeats()
{
    m_server.setReplies(QStringLiteral("/q"),
                        { FakeReply::withStatus(500), FakeReply::ok("b"), FakeReply::ok("c") });
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port());
    QVERIFY(socket.waitForConnected(5000));
    QCOMPARE(roundTrip(socket, "GET", "/q").status, 500);
    QCOMPARE(roundTrip(socket, "GET", "/q").body, QByteArray("b"));
    QCOMPARE(roundTrip(socket, "GET", "/q").body, QByteArray("c"));
    QCOMPARE(roundTrip(socket, "GET", "/q").body, QByteArray("c"));
}

void TestFakeHttpServer::callNameRouteWinsOverPath()
{
    m_server.setReply(QStringLiteral("/ws/api.dll"), FakeReply::ok("Pfad"));
    m_server.setCallReply(QStringLiteral("AddItem"), FakeReply::ok("AddItem"));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port());
    QVERIFY(socket.waitForConnected(5000));
    QCOMPARE(
        roundTrip(socket, "POST", "/ws/api.dll", "X-EBAY-API-CALL-NAME: AddItem\r\n", "<x/>").body,
        QByteArray("AddItem"));
    QCOMPARE(m_server.lastRequest().callName(), QStringLiteral("AddItem"));
    // A call without its own route falls back to the path.
    QCOMPARE(
        roundTrip(socket, "POST", "/ws/api.dll", "X-EBAY-API-CALL-NAME: GetItem\r\n", "<x/>").body,
        QByteArray("Pfad"));
}

void TestFakeHttpServer::defaultReplyForUnmatched()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port());
    QVERIFY(socket.waitForConnected(5000));
    QCOMPARE(roundTrip(socket, "GET", "/nirgends").status, 404);
    m_server.setDefaultReply(FakeReply::withStatus(503, "Wartung"));
    const Answer answer = roundTrip(socket, "HEAD", "/nirgends");
    QCOMPARE(answer.status, 503);
    QVERIFY(answer.body.isEmpty()); // HEAD has no body
    QCOMPARE(m_server.requestCount(), 2);
}

void TestFakeHttpServer::gzipDelayAndDrop()
{
    const QByteArray content = QByteArray(5000, 'z') + "Ende";
    m_server.setReply(QStringLiteral("/gz"), FakeReply::ok(content).gzipped().delayed(300));
    m_server.setReply(QStringLiteral("/weg"), FakeReply::dropped());
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port());
    QVERIFY(socket.waitForConnected(5000));

    QElapsedTimer clock;
    clock.start();
    const Answer answer = roundTrip(socket, "GET", "/gz");
    QVERIFY(clock.elapsed() >= 250);
    QCOMPARE(answer.headers.value("content-encoding"), QByteArray("gzip"));
    QVERIFY(answer.body.size() < content.size());
    QCOMPARE(Gzip::inflate(answer.body), content);

    const Answer dropped = roundTrip(socket, "GET", "/weg");
    QVERIFY(dropped.closed);
    QCOMPARE(dropped.status, 0);
}

void TestFakeHttpServer::handlerComputesReply()
{
    m_server.setHandler(QStringLiteral("/echo"), [](const RecordedRequest &request) {
        return FakeReply::ok(request.method + ' ' + request.body);
    });
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port());
    QVERIFY(socket.waitForConnected(5000));
    QCOMPARE(roundTrip(socket, "PUT", "/echo", QByteArray(), "Daten").body,
             QByteArray("PUT Daten"));
}

void TestFakeHttpServer::connectionCloseEndsConnection()
{
    m_server.setReply(QStringLiteral("/zu"), FakeReply::ok("a").header("Connection", "close"));
    m_server.setReply(QStringLiteral("/offen"), FakeReply::ok("b"));
    for (const QByteArray &target : { QByteArray("/zu"), QByteArray("/offen") }) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_server.port());
        QVERIFY(socket.waitForConnected(5000));
        // The reply's header, or the client's, asks to close.
        const QByteArray clientHeader = target == "/offen" ? "Connection: close\r\n" : "";
        const Answer answer = roundTrip(socket, "GET", target, clientHeader);
        QCOMPARE(answer.headers.value("connection"), QByteArray("close"));
        QVERIFY(socket.state() == QAbstractSocket::UnconnectedState
                || socket.waitForDisconnected(5000));
    }
}

void TestFakeHttpServer::urlBuildsAddresses()
{
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(m_server.port());
    QCOMPARE(m_server.url().toString(), base);
    QCOMPARE(m_server.url(QStringLiteral("/a/b?c=d")).toString(),
             base + QStringLiteral("/a/b?c=d"));
    QCOMPARE(m_server.url(QStringLiteral("a")).toString(), base + QStringLiteral("/a"));
}

APP_TEST_GUILESS_MAIN(TestFakeHttpServer)
#include "test_fakehttpserver.moc"
