#pragma once

#include <QString>
#include <QUrl>

// The rules an update check applies to what the maker's server offers: a version and a
// download address, both texts from outside.
namespace UpdateOffer {

// True only when `offered` is a well-formed version (numbers separated by dots, nothing
// else around them) higher than `current`. Garbage never counts as an update.
bool isNewer(const QString &current, const QString &offered);

// The address to open for a download: only http and https addresses with a host; an empty
// URL for anything else.
QUrl downloadAddress(const QString &text);

} // namespace UpdateOffer
