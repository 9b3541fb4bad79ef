#include "tests/support/dialoganswers.h"

#include <QtTest>

namespace {
// Fails the running test: the code asked something the test did not expect. Reported as a
// failed check rather than through QTest::qFail, so that QEXPECT_FAIL can expect it.
void unexpected(const QString &what)
{
    QTest::qVerify(false, "answer queued",
                   qPrintable(QStringLiteral("DialogAnswers: no answer queued for ") + what),
                   __FILE__, __LINE__);
}
} // namespace

DialogAnswers::DialogAnswers()
    : m_previous(Dialogs::hook())
{
    Dialogs::setHook(this);
}

DialogAnswers::~DialogAnswers()
{
    if (Dialogs::hook() == this)
        Dialogs::setHook(m_previous);
}

void DialogAnswers::pushQuestion(bool yes)
{
    m_questionAnswers.enqueue(yes);
}

void DialogAnswers::pushFileName(const QString &fileName)
{
    m_fileNames.enqueue(fileName);
}

void DialogAnswers::pushFileNames(const QStringList &fileNames)
{
    m_fileNameLists.enqueue(fileNames);
}

void DialogAnswers::pushDirectory(const QString &directory)
{
    m_directories.enqueue(directory);
}

void DialogAnswers::pushText(const QString &text, bool ok)
{
    m_texts.enqueue({ text, ok });
}

QString DialogAnswers::lastMessageText() const
{
    return m_messages.isEmpty() ? QString() : m_messages.constLast().text;
}

void DialogAnswers::clear()
{
    m_messages.clear();
    m_questions.clear();
    m_shownTexts.clear();
    m_questionAnswers.clear();
    m_fileNames.clear();
    m_fileNameLists.clear();
    m_directories.clear();
    m_texts.clear();
}

void DialogAnswers::message(QWidget *, const QString &header, const QString &text, int type)
{
    m_messages.append({ header, text, type });
    m_shownTexts.append(text);
}

bool DialogAnswers::question(QWidget *, const QString &header, const QString &text)
{
    m_questions.append({ header, text });
    m_shownTexts.append(text);
    if (m_questionAnswers.isEmpty()) {
        unexpected(QStringLiteral("the question \"%1\"").arg(text));
        return false;
    }
    return m_questionAnswers.dequeue();
}

QString DialogAnswers::openFileName(QWidget *, const QString &caption, const QString &,
                                    const QString &)
{
    if (m_fileNames.isEmpty()) {
        unexpected(QStringLiteral("the file dialog \"%1\"").arg(caption));
        return QString();
    }
    return m_fileNames.dequeue();
}

QStringList DialogAnswers::openFileNames(QWidget *, const QString &caption, const QString &,
                                         const QString &)
{
    if (m_fileNameLists.isEmpty()) {
        unexpected(QStringLiteral("the file dialog \"%1\"").arg(caption));
        return QStringList();
    }
    return m_fileNameLists.dequeue();
}

QString DialogAnswers::saveFileName(QWidget *, const QString &caption, const QString &,
                                    const QString &)
{
    if (m_fileNames.isEmpty()) {
        unexpected(QStringLiteral("the save dialog \"%1\"").arg(caption));
        return QString();
    }
    return m_fileNames.dequeue();
}

QString DialogAnswers::existingDirectory(QWidget *, const QString &caption, const QString &)
{
    if (m_directories.isEmpty()) {
        unexpected(QStringLiteral("the folder dialog \"%1\"").arg(caption));
        return QString();
    }
    return m_directories.dequeue();
}

QString DialogAnswers::text(QWidget *, const QString &title, const QString &, const QString &,
                            bool *ok)
{
    if (m_texts.isEmpty()) {
        unexpected(QStringLiteral("the input dialog \"%1\"").arg(title));
        if (ok)
            *ok = false;
        return QString();
    }
    const TextAnswer answer = m_texts.dequeue();
    if (ok)
        *ok = answer.ok;
    return answer.text;
}
