#pragma once

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

#include "core/dialogs.h"

// Answers the program's dialogs in tests without blocking. Installed while it lives
// (the hook that was installed before comes back afterwards). Messages and questions are
// recorded; questions, file names, folders and texts are answered from queues. Asking
// with an empty queue fails the running test and gives the "cancel" answer.
class DialogAnswers : public DialogHook
{
public:
    struct Message
    {
        QString header;
        QString text;
        int type = 0;
    };
    struct Question
    {
        QString header;
        QString text;
    };

    DialogAnswers();
    ~DialogAnswers() override;
    DialogAnswers(const DialogAnswers &) = delete;
    DialogAnswers &operator=(const DialogAnswers &) = delete;

    void pushQuestion(bool yes);
    // Answers openFileName and saveFileName.
    void pushFileName(const QString &fileName);
    void pushFileNames(const QStringList &fileNames);
    void pushDirectory(const QString &directory);
    void pushText(const QString &text, bool ok = true);

    QList<Message> messages() const { return m_messages; }
    QList<Question> questions() const { return m_questions; }
    // The texts of every message and question, in the order they were shown.
    QStringList shownTexts() const { return m_shownTexts; }
    // The text of the last message shown, empty when none was.
    QString lastMessageText() const;
    // Forgets what was shown and every answer not yet given.
    void clear();

    void message(QWidget *parent, const QString &header, const QString &text, int type) override;
    bool question(QWidget *parent, const QString &header, const QString &text) override;
    QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                         const QString &filter) override;
    QStringList openFileNames(QWidget *parent, const QString &caption, const QString &dir,
                              const QString &filter) override;
    QString saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                         const QString &filter) override;
    QString existingDirectory(QWidget *parent, const QString &caption, const QString &dir) override;
    QString text(QWidget *parent, const QString &title, const QString &label, const QString &value,
                 bool *ok) override;

private:
    struct TextAnswer
    {
        QString text;
        bool ok = false;
    };

    DialogHook *m_previous = nullptr;
    QList<Message> m_messages;
    QList<Question> m_questions;
    QStringList m_shownTexts;
    QQueue<bool> m_questionAnswers;
    QQueue<QString> m_fileNames;
    QQueue<QStringList> m_fileNameLists;
    QQueue<QString> m_directories;
    QQueue<TextAnswer> m_texts;
};
