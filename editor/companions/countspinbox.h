#pragma once

#include <QSpinBox>

// A count field that reads what the seller types as every importer and dialog reads whole
// numbers ("1.000" and "1,000" are a thousand, "1.5" is refused), instead of by the
// locale's marks alone, which would take the German "1.5" for 15.
class CountSpinBox : public QSpinBox
{
    Q_OBJECT

public:
    using QSpinBox::QSpinBox;

    QValidator::State validate(QString &text, int &pos) const override;
    int valueFromText(const QString &text) const override;
    void fixup(QString &text) const override;
};
