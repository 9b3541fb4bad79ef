#pragma once

#include <QLabel>

// A one-line label for texts of any length (status and error texts from the workers and the
// marketplace). It shows its text cut with an ellipsis to the width it is given and never
// asks for more width than a few characters, so no text can widen the window. The text
// itself (text()) stays whole; the owner puts it into the tooltip when it may be long.
// Texts are shown as plain text.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
