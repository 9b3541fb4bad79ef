#pragma once

#include <QWidget>

#include <memory>

class QToolBar;

// The plain bar behind the account filter and the search field above the article list. It
// takes the window colour the current style gives tool bars.
class GradientWidget : public QWidget
{
    Q_OBJECT

public:
    explicit GradientWidget(QWidget *parent = nullptr);
    ~GradientWidget() override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Never shown; only its palette is used.
    std::unique_ptr<QToolBar> m_toolBar;
};
