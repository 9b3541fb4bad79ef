#pragma once

#include <QSplitter>
#include <QSplitterHandle>

#include <memory>

class QToolBar;

// A splitter whose handles are one pixel wide and painted in the tool bar colours; the mouse
// still grabs the handle over the few pixels the base class gives it.
class MacSplitter : public QSplitter
{
    Q_OBJECT

public:
    explicit MacSplitter(QWidget *parent = nullptr);
    explicit MacSplitter(Qt::Orientation orientation, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    QSplitterHandle *createHandle() override;
};

class MacSplitterHandle : public QSplitterHandle
{
    Q_OBJECT

public:
    MacSplitterHandle(Qt::Orientation orientation, QSplitter *parent);
    ~MacSplitterHandle() override;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Never shown; only its palette is used.
    std::unique_ptr<QToolBar> m_toolBar;
};
