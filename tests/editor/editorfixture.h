#pragma once

// What the article editor's tests share: the fake marketplace with the reference data of
// tests/data/marketplace, two accounts, and reading and setting the form by object name.
#include "tests/support/fakehttpserver.h"

#include <QStringList>

class Database;
class QWidget;

namespace EditorFixture {

// A GetUser reply of a commercial German shop owner in the top-rated programme, followed by
// its GetUserPreferences reply, as the client stores it.
QByteArray userData(const QByteArray &postalCode = "04109", const QByteArray &city = "Leipzig");

// Serves every reference call of the editor from the stored replies.
void serveReferenceData(TestSupport::FakeHttpServer &server);

// Writes the site details of the German site into the data folder's cache.
void cacheGermanSite(Database *db);

// Adds the accounts "alpha" (user data known) and "beta" (never fetched); their ids.
QPair<int, int> addAccounts(Database *db);

// Applies "Name=value" actions to the form: a combo box takes the entry with that item
// data ("#n": index n; "<<data" appends an entry with that data and chooses it), a button
// its checked state ("1"/"0", "click" clicks it), a text field its text; "show=Page" makes
// that page current.
void apply(QWidget *dialog, const QStringList &actions);

// Checks expectations and lists the ones that fail: "Name=value" (the shown value: item
// data of a combo, checked state of a check box, text of a label, button or field, a
// number with two decimals), "Name:on"/"Name:off" (enabled), "Name:shown"/"Name:hidden",
// "page:Name:on"/"page:Name:off" (a tab's enabled state), "Name#n" (number of entries).
QStringList mismatches(QWidget *dialog, const QStringList &expectations);

// The editor's save waits for the pictures still being decoded, the window going on (its
// buttons disabled meanwhile), and then runs: true once no save waits any more.
bool saveSettled(QWidget *editor);

} // namespace EditorFixture

// Fails the running test with every expectation of `mismatches` that does not hold.
#define EXPECT_FORM(dialog, ...)                                                                   \
    do {                                                                                           \
        const QStringList failed_ = EditorFixture::mismatches(dialog, __VA_ARGS__);                \
        QVERIFY2(failed_.isEmpty(), qPrintable(failed_.join(QStringLiteral("; "))));               \
    } while (false)
