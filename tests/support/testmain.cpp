#include "tests/support/testmain.h"

namespace TestSupport {

namespace {
QtMessageHandler g_qtTestHandler = nullptr;

bool revealsBrokenWiring(const QString &message)
{
    return message.contains(QLatin1String("QMetaObject::connectSlotsByName: No matching signal"))
        || message.startsWith(QLatin1String("QObject::connect: No such"))
        || message.startsWith(QLatin1String("QObject::connect: Parentheses expected"))
        // A read that failed, taken as if it had read nothing.
        || message.startsWith(QLatin1String("A failed read was taken as its value"));
}

void guardHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (g_qtTestHandler)
        g_qtTestHandler(type, context, message);
    if (type == QtWarningMsg && revealsBrokenWiring(message))
        QTest::qFail(qPrintable(QStringLiteral("Unexpected warning: ") + message),
                     context.file ? context.file : __FILE__, context.line);
}
} // namespace

int runTests(QObject *testObject, int argc, char **argv)
{
    // Qt Test installs its own handler in qInit(); ours goes on top of it.
    QTest::qInit(testObject, argc, argv);
    g_qtTestHandler = qInstallMessageHandler(guardHandler);
    const int result = QTest::qRun();
    qInstallMessageHandler(g_qtTestHandler);
    QTest::qCleanup();
    return result;
}

} // namespace TestSupport
