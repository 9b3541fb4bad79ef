#pragma once

#include "tests/support/testdatabase.h"

#include <QByteArray>
#include <QObject>
#include <functional>
#include <memory>

class QThread;

namespace TestSupport {

class MySqlProxyWorker;

// A TCP proxy on 127.0.0.1 in front of a MariaDB server, for what a network does to a
// program between its statements: it lets a chosen statement reach the server and cuts the
// connection before the server's answer reaches the program, or it holds all traffic (a
// server that hangs) until released. It reads the client's commands of the MySQL protocol:
// plain statements (COM_QUERY) by their text, prepared ones (COM_STMT_EXECUTE) by the text
// they were prepared from. Runs on a thread of its own, so that the program may wait for
// the server on the test's thread.
class MySqlProxy
{
public:
    explicit MySqlProxy(const MySqlServer &server);
    ~MySqlProxy();
    MySqlProxy(const MySqlProxy &) = delete;
    MySqlProxy &operator=(const MySqlProxy &) = delete;

    // False when it could not listen.
    bool isListening() const;
    // The proxy's address with the server's user and password: what the program connects to.
    MySqlServer server() const;

    // The `occurrence`-th statement from now on whose text contains `text` (case-sensitive)
    // is passed to the server. Once the server has answered it (so it ran, and without a
    // transaction was committed), `whileHeld` runs on the proxy's thread with the server's id
    // of that connection, the answer is dropped and the connection closed on both sides.
    // Only one cut is armed at a time; a later call replaces it.
    void cutAfter(const QByteArray &text, int occurrence = 1,
                  const std::function<void(quint32 connectionId)> &whileHeld = {});
    // The `occurrence`-th statement from now on whose text contains `text` is passed to the
    // server, and the program's side of the connection is cut at once: the program loses it
    // while the server may still be running the statement (a slow trigger, a lock wait). The
    // server's side stays open until the server answers; the answer is dropped. Replaces an
    // armed cutAfter() and is replaced by one.
    void cutWhenSent(const QByteArray &text, int occurrence = 1);
    // The `occurrence`-th statement from now on whose text contains `text` is passed to the
    // server, and the server's answer to it (and everything after on that connection) is held
    // until release(): the server ran it, the program waits for an answer (a server that hangs
    // after the statement). Replaces an armed cut.
    void holdAnswerTo(const QByteArray &text, int occurrence = 1);
    // The `occurrence`-th statement from now on whose text contains `text` never reaches
    // the server: the program gets an error answer instead, as from a server that refused
    // it (for a COMMIT: the transaction stays open on the server until the program ends it).
    // The connection stays. Replaces an armed cut.
    void refuse(const QByteArray &text, int occurrence = 1);
    // The `occurrence`-th statement from now on whose text contains `text` and that the
    // program prepares (bound values) never reaches the server: the connection is closed on
    // both sides as the program sends its prepare, as one that drops right after it was
    // opened. `whileHeld` runs first, with the server's id of that connection. Counts as a
    // cut; replaces an armed cut and is replaced by one.
    void dropAtPrepare(const QByteArray &text, int occurrence = 1,
                       const std::function<void(quint32 connectionId)> &whileHeld = {});
    // Statements refused so far.
    int refusals() const;
    // Connections cut so far.
    int cuts() const;
    // Connections the program (or anything else) opened to the proxy so far, also while it is
    // stalled.
    int connectionsAccepted() const;
    // Statements seen so far whose text contains `text` (plain, or prepared and executed).
    int statementsSeen(const QByteArray &text) const;

    // From now on nothing passes in either direction, on open connections or new ones:
    // the server seems to hang. release() lets everything held pass on.
    void stall();
    void release();

    // From now on the server seems gone: the open connections are cut, and a new one is
    // closed before the server's greeting. comeBack() lets new connections through again.
    void goAway();
    // From now on a new connection is answered as by a server at its connection limit
    // ("Too many connections") and closed; the open connections go on. comeBack() ends it.
    void refuseNewConnections();
    void comeBack();

private:
    std::unique_ptr<QThread> m_thread;
    MySqlProxyWorker *m_worker = nullptr;
    MySqlServer m_server;
    quint16 m_port = 0;
};

} // namespace TestSupport

// Opens a TestDatabase named `var` behind a MySqlProxy named `proxy` for the current
// "backend" row. The SQLite row is skipped with `reason`: a local file has no connection
// that could be cut.
#define APP_TEST_DATABASE_BEHIND_PROXY(proxy, var, reason)                                         \
    const TestSupport::Backend var##Backend = *static_cast<TestSupport::Backend *>(                \
        QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));                     \
    if (var##Backend == TestSupport::Backend::SQLite)                                              \
        QSKIP(reason);                                                                             \
    APP_REQUIRE_BACKEND(var##Backend);                                                             \
    TestSupport::MySqlProxy proxy(TestSupport::MySqlServer::fromEnvironment());                    \
    QVERIFY(proxy.isListening());                                                                  \
    TestSupport::TestDatabase var(proxy.server());                                                 \
    QVERIFY2(var.error().isEmpty(), qPrintable(var.error()))
