#pragma once

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class OwnAttribute;
}

// Asks for the name and the value of an item specific of the seller's own. Ok stays
// disabled until both are filled.
class OwnAttribute : public QDialog
{
    Q_OBJECT

public:
    explicit OwnAttribute(QWidget *parent = nullptr);
    ~OwnAttribute() override;

    // The texts as typed, not trimmed.
    QString getName() const;
    QString getVal() const;

private slots:
    void on_AttributeName_textChanged(const QString &text);
    void on_AttributeValue_textChanged(const QString &text);

private:
    void updateOk();

    std::unique_ptr<Ui::OwnAttribute> m_ui;
};
