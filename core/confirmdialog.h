#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class ConfirmDialog;
}

// The program's message and question dialog: an icon, a heading, the text and either one
// "OK" button (message) or "Ja"/"Nein" (question). The window title is the heading. Heading
// and text are shown as plain text: they often carry the marketplace's or a file's words.
// Shown through Dialogs, which makes it modal and lets it delete itself.
class ConfirmDialog : public QDialog
{
    Q_OBJECT

public:
    // The message types of Statics::showMessage.
    enum MessageType { Information = 0, Warning = 1, Error = 2 };

    explicit ConfirmDialog(QWidget *parent = nullptr);
    ~ConfirmDialog() override;

    // One "OK" button; the icon follows `type` (an unknown type shows as information).
    void setMessage(const QString &header, const QString &text, int type);
    // "Ja" accepts, "Nein" rejects and is the default button.
    void setQuestion(const QString &header, const QString &text);

    // "Information", "Warnung" or "Fehlerhinweis".
    static QString headerForType(int type);
    // The resource path of the icon shown for a message type.
    static QString iconForType(int type);
    static QString questionIcon();

private:
    void setContent(const QString &header, const QString &text, const QString &icon);

    std::unique_ptr<Ui::ConfirmDialog> m_ui;
};
