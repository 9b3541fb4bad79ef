#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

namespace TestSupport {

// A temporary HOME with its own XDG folders, so that the data folder, QSettings and
// the desktop folder of a test never touch the real user's. Set up before the
// application object exists; the old environment comes back on destruction.
class TempHome
{
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome &) = delete;
    TempHome &operator=(const TempHome &) = delete;

    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QMap<QByteArray, QByteArray> m_saved;
};

} // namespace TestSupport
