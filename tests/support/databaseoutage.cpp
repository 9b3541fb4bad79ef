#include "tests/support/databaseoutage.h"

#include <QFile>
#include <QTest>

namespace TestSupport {

DatabaseOutage::DatabaseOutage(Fault fault)
    : m_fault(fault)
{
    switch (fault) {
    case Fault::FileDeleted:
        m_data = std::make_unique<TestDatabase>(Backend::SQLite);
        break;
    case Fault::Refused:
        m_proxy = std::make_unique<MySqlProxy>(MySqlServer::fromEnvironment());
        if (!m_proxy->isListening()) {
            m_error = QStringLiteral("the test proxy does not listen");
            return;
        }
        m_data = std::make_unique<TestDatabase>(m_proxy->server());
        break;
    case Fault::ServerGone:
        m_own = std::make_unique<OwnMySqlServer>();
        if (!m_own->start()) {
            m_error = m_own->error();
            return;
        }
        m_data = std::make_unique<TestDatabase>(m_own->server());
        break;
    }
    m_error = m_data->error();
}

DatabaseOutage::~DatabaseOutage()
{
    // The database is dropped on the server it was made on.
    mend();
    m_data.reset();
}

bool DatabaseOutage::strike(const QByteArray &statement)
{
    switch (m_fault) {
    case Fault::Refused:
        m_proxy->refuse(statement);
        return true;
    case Fault::ServerGone:
        return m_own->stop();
    case Fault::FileDeleted: {
        const QString file = m_data->dataDir() + Database::getDatabaseName();
        for (const char *side : { "-wal", "-shm", "-journal" })
            QFile::remove(file + QLatin1String(side));
        return QFile::remove(file);
    }
    }
    return false;
}

bool DatabaseOutage::mend()
{
    return m_fault != Fault::ServerGone || !m_own || m_own->start();
}

void addOutageRows()
{
    QTest::addColumn<DatabaseOutage::Fault>("fault");
    QTest::newRow("sqlite: file deleted") << DatabaseOutage::Fault::FileDeleted;
    QTest::newRow("mysql: statement refused") << DatabaseOutage::Fault::Refused;
    QTest::newRow("mysql: server gone") << DatabaseOutage::Fault::ServerGone;
}

} // namespace TestSupport
