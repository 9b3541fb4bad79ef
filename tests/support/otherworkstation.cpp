#include "tests/support/otherworkstation.h"

#include <QAtomicInt>
#include <QSqlError>
#include <QSqlQuery>

namespace TestSupport {

namespace {
QAtomicInt s_next;
}

OtherWorkstation::OtherWorkstation(TestDatabase &data, const QString &rows)
    : m_name(QStringLiteral("otherworkstation%1").arg(s_next.fetchAndAddRelaxed(1)))
{
    QSqlDatabase connection = data.rawConnection(m_name);
    if (!connection.isOpen()) {
        m_error = connection.lastError().text();
        return;
    }
    QSqlQuery query(connection);
    const bool mysql = data.backend() == Backend::MySQL;
    if (!query.exec(mysql ? QStringLiteral("START TRANSACTION") : QStringLiteral("BEGIN IMMEDIATE"))
        || (mysql && !query.exec(rows + QStringLiteral(" FOR UPDATE")))) {
        m_error = query.lastError().text();
        return;
    }
    m_holding = true;
}

OtherWorkstation::~OtherWorkstation()
{
    letGo();
    QSqlDatabase::removeDatabase(m_name);
}

void OtherWorkstation::letGo()
{
    if (!m_holding)
        return;
    m_holding = false;
    {
        QSqlDatabase connection = QSqlDatabase::database(m_name, false);
        QSqlQuery(connection).exec(QStringLiteral("ROLLBACK"));
        connection.close();
    }
}

} // namespace TestSupport
