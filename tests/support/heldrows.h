#pragma once

#include "tests/support/testdatabase.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace TestSupport {

// Another workstation holding rows while a command of the program runs: on the shared database
// a transaction of a session of its own that locked `ids` of `table` (SELECT … FOR UPDATE), on
// the local file another connection holding its write lock. Held from the thread that makes it
// (a held lock asks nothing of its holder) until release() or until it goes.
class HeldRows
{
public:
    HeldRows(TestDatabase &data, const QString &table, const QList<int> &ids)
        : m_name(QStringLiteral("heldrows"))
    {
        {
            QSqlDatabase connection = data.rawConnection(m_name);
            QSqlQuery query(connection);
            if (data.backend() == Backend::MySQL) {
                QStringList in;
                for (int id : ids)
                    in << QString::number(id);
                m_held = query.exec(QStringLiteral("START TRANSACTION"))
                    && query.exec(QStringLiteral("SELECT id FROM %1 WHERE id IN (%2) FOR UPDATE")
                                      .arg(table, in.join(QLatin1Char(','))));
            } else {
                m_held = query.exec(QStringLiteral("BEGIN IMMEDIATE"));
            }
            if (!m_held)
                m_error = query.lastError().text();
        }
    }
    ~HeldRows() { release(); }
    HeldRows(const HeldRows &) = delete;
    HeldRows &operator=(const HeldRows &) = delete;

    bool held() const { return m_held; }
    QString error() const { return m_error; }

    // Lets go, writing nothing.
    void release()
    {
        if (m_name.isEmpty())
            return;
        {
            QSqlDatabase connection = QSqlDatabase::database(m_name, false);
            QSqlQuery(connection).exec(QStringLiteral("ROLLBACK"));
            connection.close();
        }
        QSqlDatabase::removeDatabase(m_name);
        m_name.clear();
    }

private:
    QString m_name;
    bool m_held = false;
    QString m_error;
};

} // namespace TestSupport
