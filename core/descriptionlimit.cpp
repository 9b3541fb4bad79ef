#include "core/descriptionlimit.h"

#include <QCoreApplication>
#include <QLocale>

namespace {

QString number(int value)
{
    return QLocale(QLocale::German, QLocale::Germany).toString(value);
}

} // namespace

QString DescriptionLimit::refusal(const QString &description)
{
    if (description.size() <= kMaxChars)
        return QString();
    return QCoreApplication::translate("DescriptionLimit",
                                       "Die Beschreibung ist %1 Zeichen lang, eBay nimmt "
                                       "höchstens %2 Zeichen.")
        .arg(number(description.size()), number(kMaxChars));
}

QString DescriptionLimit::filledRefusal()
{
    return QCoreApplication::translate("DescriptionLimit",
                                       "Mit den eingesetzten Texten ($frei_01$ bis $frei_05$, "
                                       "$notes$) ist die Beschreibung länger als %1 Zeichen, eBay "
                                       "nimmt höchstens %1 Zeichen.")
        .arg(number(kMaxChars));
}
