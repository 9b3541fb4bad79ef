#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <unistd.h>

namespace TestSupport {

// File systems mounted for one test and unmounted again, last first. Needs root.
class Mounts
{
public:
    Mounts() = default;
    Mounts(const Mounts &) = delete;
    Mounts &operator=(const Mounts &) = delete;
    ~Mounts()
    {
        for (auto it = m_points.crbegin(); it != m_points.crend(); ++it)
            run(QStringLiteral("umount"), { QStringLiteral("-l"), *it });
    }

    static bool isRoot() { return geteuid() == 0; }

    // A small tmpfs of `size` ("4m") on the folder `dir`, its root the user's alone like a
    // data folder the program made (a tmpfs root is open to everyone by default).
    bool tmpfs(const QString &dir, const QString &size)
    {
        return mount({ QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                       QStringLiteral("size=") + size + QStringLiteral(",mode=0700"),
                       QStringLiteral("tmpfs"), dir },
                     dir);
    }
    bool remountReadOnly(const QString &dir)
    {
        return run(QStringLiteral("mount"),
                   { QStringLiteral("-o"), QStringLiteral("remount,ro"), dir });
    }
    // The file itself read-only, its folder writable as before.
    bool bindReadOnly(const QString &file)
    {
        return mount({ QStringLiteral("--bind"), file, file }, file)
            && run(QStringLiteral("mount"),
                   { QStringLiteral("-o"), QStringLiteral("remount,ro,bind"), file });
    }

private:
    bool mount(const QStringList &arguments, const QString &point)
    {
        if (!run(QStringLiteral("mount"), arguments))
            return false;
        m_points << point;
        return true;
    }
    static bool run(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    }
    QStringList m_points;
};

} // namespace TestSupport
