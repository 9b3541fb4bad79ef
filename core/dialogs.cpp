#include "core/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QPointer>

#include "core/confirmdialog.h"
#include "core/logging.h"

DialogHook *Dialogs::s_hook = nullptr;

DialogHook::~DialogHook() = default;

void Dialogs::setHook(DialogHook *hook)
{
    s_hook = hook;
}

DialogHook *Dialogs::hook()
{
    return s_hook;
}

namespace {
// Programs without widgets (command-line tools, benchmarks) can't show a dialog: the
// text goes to the log instead.
bool canShowDialogs(const QString &header, const QString &text)
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        return true;
    qCWarning(lcApp).noquote() << header + QStringLiteral(": ") + text;
    return false;
}

// A modal ConfirmDialog that deletes itself when closed: window-modal over a parent,
// application-modal without one.
ConfirmDialog *createConfirmDialog(QWidget *parent)
{
    auto *dialog = new ConfirmDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    return dialog;
}
} // namespace

void Dialogs::message(QWidget *parent, const QString &header, const QString &text, int type)
{
    if (s_hook) {
        s_hook->message(parent, header, text, type);
        return;
    }
    if (!canShowDialogs(header, text))
        return;
    ConfirmDialog *dialog = createConfirmDialog(parent);
    dialog->setMessage(header, text, type);
    dialog->exec();
}

bool Dialogs::question(QWidget *parent, const QString &header, const QString &text)
{
    if (s_hook)
        return s_hook->question(parent, header, text);
    if (!canShowDialogs(header, text))
        return false;
    ConfirmDialog *dialog = createConfirmDialog(parent);
    dialog->setQuestion(header, text);
    // exec() deletes the dialog before it returns (WA_DeleteOnClose), also when the
    // parent went away meanwhile; then the answer is "Rejected".
    return dialog->exec() == QDialog::Accepted;
}

QString Dialogs::openFileName(QWidget *parent, const QString &caption, const QString &dir,
                              const QString &filter)
{
    if (s_hook)
        return s_hook->openFileName(parent, caption, dir, filter);
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QStringList Dialogs::openFileNames(QWidget *parent, const QString &caption, const QString &dir,
                                   const QString &filter)
{
    if (s_hook)
        return s_hook->openFileNames(parent, caption, dir, filter);
    return QFileDialog::getOpenFileNames(parent, caption, dir, filter);
}

QString Dialogs::saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                              const QString &filter)
{
    if (s_hook)
        return s_hook->saveFileName(parent, caption, dir, filter);
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString Dialogs::existingDirectory(QWidget *parent, const QString &caption, const QString &dir)
{
    if (s_hook)
        return s_hook->existingDirectory(parent, caption, dir);
    return QFileDialog::getExistingDirectory(parent, caption, dir);
}

QString Dialogs::text(QWidget *parent, const QString &title, const QString &label,
                      const QString &value, bool *ok)
{
    if (s_hook) {
        bool confirmed = false;
        const QString result = s_hook->text(parent, title, label, value, &confirmed);
        if (ok)
            *ok = confirmed;
        return result;
    }
    if (ok)
        *ok = false;
    QPointer<QInputDialog> dialog = new QInputDialog(parent);
    dialog->setWindowTitle(title);
    dialog->setInputMode(QInputDialog::TextInput);
    // The label shows its text as it is, as the message dialog does: made plain before
    // it holds the text.
    dialog->setLabelText(QString());
    for (QLabel *shown : dialog->findChildren<QLabel *>())
        shown->setTextFormat(Qt::PlainText);
    dialog->setLabelText(label);
    dialog->setTextValue(value);
    const bool confirmed = dialog->exec() == QDialog::Accepted;
    // Gone with its parent meanwhile: then it counts as cancelled.
    if (!dialog)
        return QString();
    const QString text = confirmed ? dialog->textValue() : QString();
    delete dialog;
    if (ok)
        *ok = confirmed;
    return text;
}
