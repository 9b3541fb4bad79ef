#pragma once

#include "tests/support/testdatabase.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace TestSupport {

class MySqlProxy;
class SqliteReadRefusal;

// A fresh database of a backend row on which a test makes a read fail: the database refuses
// it (SQLite through its authorizer, MariaDB through a MySqlProxy in front of the server), or,
// on MariaDB, the server goes away with it.
class FailingRead
{
public:
    explicit FailingRead(Backend backend);
    ~FailingRead();
    FailingRead(const FailingRead &) = delete;
    FailingRead &operator=(const FailingRead &) = delete;

    // Empty when everything is ready; otherwise why not.
    QString error() const { return m_error; }
    TestDatabase &data() const { return *m_data; }
    Database *db() const { return m_data->db(); }
    bool isMySQL() const { return m_data->backend() == Backend::MySQL; }
    MySqlProxy *proxy() const { return m_proxy.get(); }

    // The next statement that reads `table` is refused: on MariaDB the next one whose text
    // contains `text`; on SQLite the next one on the main connection or one opened from now on
    // (`text` is not looked at), and with `active` false only once setActive(true) was called.
    void refuse(const QString &table, const QByteArray &text, bool active = true);
    void setActive(bool active);
    // MariaDB only: the next statement whose text contains `text` runs, its answer is lost and
    // from then on the server does not answer (connections wait 1 s for it) until restore().
    void loseServerAt(const QByteArray &text);
    // Everything passes again.
    void restore();
    // Whether `text` holds the reason of a refused read.
    bool tellsRefusal(const QString &text) const;

private:
    std::unique_ptr<MySqlProxy> m_proxy;
    std::unique_ptr<TestDatabase> m_data;
    std::unique_ptr<SqliteReadRefusal> m_refusal;
    QString m_error;
};

} // namespace TestSupport

// Opens a FailingRead named `var` for the current "backend" row.
#define APP_TEST_FAILING_READ(var)                                                                 \
    const TestSupport::Backend var##Backend = *static_cast<TestSupport::Backend *>(                \
        QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));                     \
    APP_REQUIRE_BACKEND(var##Backend);                                                             \
    TestSupport::FailingRead var(var##Backend);                                                    \
    QVERIFY2(var.error().isEmpty(), qPrintable(var.error()))
