#pragma once

#include <QLabel>

// A label that opens a web address when clicked (the main window's banner). The address is
// the dynamic property "link", set by the label's owner.
class ClickLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ClickLabel(QWidget *parent = nullptr);

protected:
    // A left click opens the "link" address in the default browser when it is an http or
    // https address; any other address, button or a missing link does nothing. The event
    // never reaches QLabel.
    void mousePressEvent(QMouseEvent *event) override;
};
