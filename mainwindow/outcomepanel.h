#pragma once

#include <QFrame>

class QLabel;
class QToolButton;

// The outcome of a task that ran in the background (a backup), kept below the status panel
// until the seller closes it: the whole text, with its time and a sign for success or
// failure. Progress in the status panel above leaves it alone.
class OutcomePanel : public QFrame
{
    Q_OBJECT
public:
    explicit OutcomePanel(QWidget *parent = nullptr);

    // Shows `text` as plain text, replacing what was shown. A long path breaks at any
    // separator instead of widening the window.
    void showOutcome(const QString &text, bool ok);

private:
    QLabel *m_icon;
    QLabel *m_text;
    QToolButton *m_close;
};
