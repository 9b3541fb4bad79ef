#include "tests/support/failingread.h"

#include "tests/support/mysqlproxy.h"
#include "tests/support/sqlitereadrefusal.h"

namespace TestSupport {

namespace {
constexpr int kNormalTimeoutSeconds = 15;
constexpr int kGoneTimeoutSeconds = 1;
} // namespace

FailingRead::FailingRead(Backend backend)
{
    if (backend == Backend::MySQL) {
        m_proxy = std::make_unique<MySqlProxy>(MySqlServer::fromEnvironment());
        if (!m_proxy->isListening()) {
            m_error = QStringLiteral("The proxy does not listen");
            return;
        }
        m_data = std::make_unique<TestDatabase>(m_proxy->server());
    } else {
        m_data = std::make_unique<TestDatabase>(backend);
    }
    m_error = m_data->error();
}

FailingRead::~FailingRead()
{
    restore();
    m_refusal.reset();
    m_data.reset();
    m_proxy.reset();
}

void FailingRead::refuse(const QString &table, const QByteArray &text, bool active)
{
    if (m_proxy) {
        m_proxy->refuse(text);
        return;
    }
    m_refusal.reset();
    m_refusal = std::make_unique<SqliteReadRefusal>(table, true);
    m_refusal->alsoOn(m_data->db()->connection());
    m_refusal->setActive(active);
}

void FailingRead::setActive(bool active)
{
    if (m_refusal)
        m_refusal->setActive(active);
}

void FailingRead::loseServerAt(const QByteArray &text)
{
    if (!m_proxy)
        return;
    Database::setDefaultResponseTimeout(kGoneTimeoutSeconds);
    m_data->db()->setResponseTimeout(kGoneTimeoutSeconds);
    MySqlProxy *proxy = m_proxy.get();
    m_proxy->cutAfter(text, 1, [proxy](quint32) { proxy->stall(); });
}

void FailingRead::restore()
{
    if (m_refusal)
        m_refusal->setActive(false);
    if (m_proxy) {
        m_proxy->refuse(QByteArray(), 0);
        m_proxy->release();
        Database::setDefaultResponseTimeout(kNormalTimeoutSeconds);
        if (m_data && m_data->db() && m_data->db()->responseTimeout() != kNormalTimeoutSeconds)
            m_data->db()->setResponseTimeout(kNormalTimeoutSeconds);
    }
}

bool FailingRead::tellsRefusal(const QString &text) const
{
    if (m_proxy)
        return text.contains(QLatin1String("Refused by the test proxy"));
    // SQLite's texts for a column and for a pragma.
    return text.contains(QLatin1String("prohibited"))
        || text.contains(QLatin1String("not authorized"));
}

} // namespace TestSupport
