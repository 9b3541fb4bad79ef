#pragma once

#include <QLayout>
#include <QList>
#include <QStyle>

// Places its items in rows, left to right, and starts a new row when the width runs out (the
// picture slots of the article editor). A spacing of -1 lets the style decide.
class FlowLayout : public QLayout
{
    Q_OBJECT

public:
    // A margin of -1 keeps the style's contents margins.
    explicit FlowLayout(QWidget *parent, int margin = -1, int hSpacing = -1, int vSpacing = -1);
    explicit FlowLayout(int margin = -1, int hSpacing = -1, int vSpacing = -1);
    ~FlowLayout() override;

    void addItem(QLayoutItem *item) override;
    int horizontalSpacing() const;
    int verticalSpacing() const;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    int count() const override;
    QLayoutItem *itemAt(int index) const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect &rect) override;
    QSize sizeHint() const override;
    QLayoutItem *takeAt(int index) override;

private:
    // Places the items into rect (or only measures when testOnly is set) and returns the
    // height they need, margins included.
    int doLayout(const QRect &rect, bool testOnly) const;
    int smartSpacing(QStyle::PixelMetric metric) const;

    QList<QLayoutItem *> m_items;
    int m_hSpacing;
    int m_vSpacing;
};
