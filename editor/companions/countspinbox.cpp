#include "editor/companions/countspinbox.h"

#include "editor/companions/numberspinbox.h"

QValidator::State CountSpinBox::validate(QString &text, int &) const
{
    double value = 0;
    return numberEntryState(text, prefix(), suffix(), NumberReader::Whole, minimum(), maximum(),
                            &value);
}

int CountSpinBox::valueFromText(const QString &text) const
{
    double value = 0;
    numberEntryState(text, prefix(), suffix(), NumberReader::Whole, minimum(), maximum(), &value);
    return int(value);
}

// Nothing to mend: what can't be read is left for the box to replace by its last number.
void CountSpinBox::fixup(QString &) const { }
