#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Answers the dialogs that ask the user something. The program installs none and gets the
// real dialogs; tests install one that answers from queues without blocking.
class DialogHook
{
public:
    virtual ~DialogHook();

    virtual void message(QWidget *parent, const QString &header, const QString &text, int type) = 0;
    virtual bool question(QWidget *parent, const QString &header, const QString &text) = 0;
    virtual QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                                 const QString &filter)
        = 0;
    virtual QStringList openFileNames(QWidget *parent, const QString &caption, const QString &dir,
                                      const QString &filter)
        = 0;
    virtual QString saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                 const QString &filter)
        = 0;
    virtual QString existingDirectory(QWidget *parent, const QString &caption, const QString &dir)
        = 0;
    virtual QString text(QWidget *parent, const QString &title, const QString &label,
                         const QString &value, bool *ok)
        = 0;
};

// The one way the program asks the user: messages, yes/no questions, file and folder
// choosers and text input. Each call goes to the installed hook, else to the real dialog.
// GUI thread only.
class Dialogs
{
public:
    // nullptr brings the real dialogs back.
    static void setHook(DialogHook *hook);
    static DialogHook *hook();

    // Modal message with one "OK" button; `type` picks the icon (see ConfirmDialog).
    static void message(QWidget *parent, const QString &header, const QString &text, int type);
    // Modal "Ja"/"Nein" question; true for yes, false for no, Escape or close.
    static bool question(QWidget *parent, const QString &header, const QString &text);

    // The file, files or folder chosen; empty when cancelled.
    static QString openFileName(QWidget *parent, const QString &caption,
                                const QString &dir = QString(), const QString &filter = QString());
    static QStringList openFileNames(QWidget *parent, const QString &caption,
                                     const QString &dir = QString(),
                                     const QString &filter = QString());
    static QString saveFileName(QWidget *parent, const QString &caption,
                                const QString &dir = QString(), const QString &filter = QString());
    static QString existingDirectory(QWidget *parent, const QString &caption,
                                     const QString &dir = QString());
    // One line of text, prefilled with `value`; *ok (when given) tells whether it was confirmed.
    static QString text(QWidget *parent, const QString &title, const QString &label,
                        const QString &value = QString(), bool *ok = nullptr);

private:
    static DialogHook *s_hook;
};
