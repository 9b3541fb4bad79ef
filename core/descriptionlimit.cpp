#include "core/descriptionlimit.h"

#include <QCoreApplication>
#include <QLocale>

QString DescriptionLimit::refusal(const QString &description)
{
    if (description.size() <= kMaxChars)
        return QString();
    const QLocale german(QLocale::German, QLocale::Germany);
    return QCoreApplication::translate("DescriptionLimit",
                                       "Die Beschreibung ist %1 Zeichen lang, eBay nimmt "
                                       "höchstens %2 Zeichen.")
        .arg(german.toString(description.size()), german.toString(kMaxChars));
}
