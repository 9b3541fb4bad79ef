// The main window's form (forms/mainwindow.ui), built on a plain QMainWindow: every action with
// its text, shortcut, icon and places, and the widgets other code reaches by object name.

#include "ui_mainwindow.h"

#include "tests/support/testmain.h"

#include <QAction>
#include <QMainWindow>
#include <QtTest>

#include <memory>

namespace {

const QStringList kContainers
    = { QStringLiteral("menuDatei"), QStringLiteral("menuBearbeiten"), QStringLiteral("menuExtras"),
        QStringLiteral("menuHilfe"), QStringLiteral("mainToolBar") };

struct ActionRow
{
    QString name, text, shortcut, icon; // shortcut in portable text; icon under :/buttons/images/
    QStringList placedIn; // form containers only; context menus are built in code
};

ActionRow row(const char *name, const char *text, const char *placedIn = "",
              const char *shortcut = "", const char *icon = "")
{
    return { QString::fromUtf8(name), QString::fromUtf8(text), QString::fromUtf8(shortcut),
             QString::fromUtf8(icon),
             QString::fromUtf8(placedIn).split(QLatin1Char(' '), Qt::SkipEmptyParts) };
}

// Every action of the form, in the form's order.
QVector<ActionRow> allActions()
{
    const char *edit = "menuBearbeiten mainToolBar";
    QVector<ActionRow> rows {
        row("actionDatenverzeichnis_ffnen", "Datenverzeichnis öffnen", "menuHilfe"),
        row("actionEinstellungen", "Einstellungen", "menuExtras mainToolBar", "",
            "development.png"),
        row("actionNeuer_Artikel", "Neuer Artikel", "menuDatei mainToolBar", "Ctrl+N",
            "Edit-Flat-83.png"),
        row("actionL_schen", "Löschen", edit, "Del", "trash.png"),
        row("actionPlanen", "Startzeit planen", edit, "Ctrl+P", "Calendar-Flat-33.png"),
        row("actionDuplizieren", "Duplizieren", edit, "Ctrl+Shift+C", "copy.png"),
        row("actionIn_Ausgang_legen", "In Ausgang legen", edit, "Ctrl+Shift+A",
            "Upload File-Flat-9.png"),
        row("actionAuwahl_beenden", "Auwahl beenden", edit, "Ctrl+B", "Stop-Flat-247.png"),
        row("actionSynchronisieren", "Synchronisieren", "menuDatei mainToolBar", "F5",
            "WorldWide-Flat-87.png"),
        row("actionNeuer_Ordner", "Neuer Ordner"), row("actionUmbenennen", "Umbenennen"),
        row("actionL_schen_2", "Löschen"), row("actionListe_leeren", "Liste leeren"),
        row("actionAusschneiden", "Ausschneiden", "menuBearbeiten", "Ctrl+X"),
        row("actionKopieren", "Kopieren", "menuBearbeiten", "Ctrl+C"),
        row("actionEinf_gen", "Einfügen", "menuBearbeiten", "Ctrl+V"),
        row("actionAlles_markieren", "Alles markieren", "menuBearbeiten", "Ctrl+A"),
        // The quit action goes into "Datei" only when the window's constructor appends it.
        row("actionBeenden", "Beenden"), row("action_ber_1", "Über %1", "menuHilfe"),
        row("actionProjektseite_ffnen", "Projektseite öffnen..."),
        row("actionArtikel_online_aufrufen", "Artikel online aufrufen", "menuBearbeiten", "Ctrl+O"),
        row("action_1_Webseite_besuchen", "Webseite besuchen", "menuHilfe"),
        row("actionHilfe", "Onlinehilfe", "menuHilfe", "F1"),
        row("actionExportieren", "Exportieren...", "menuDatei"),
        row("actionImportieren", "Importieren...", "menuDatei"),
        row("actionCache_leeren", "Cache leeren", "menuExtras"),
        row("actionDaten_sichern", "Daten sichern", "menuDatei"),
        row("actionDaten_wiederherstellen", "Daten wiederherstellen", "menuDatei")
    };
    const std::pair<const char *, const char *> sortFields[] = {
        { "Titel", "Titel" },           { "Startpreis", "Startpreis" },
        { "Beobachter", "Beobachter" }, { "Ende", "Ende" },
        { "Menge", "Menge" },           { "Verk_ufen", "Verkäufen" },
        { "Startzeit", "Startzeit" },   { "interner_Id", "interner Id" },
    };
    for (const auto &field : sortFields) {
        for (const char *direction : { "aufsteigend", "absteigend" }) {
            const QByteArray name
                = QByteArray("actionNach_") + field.first + '_' + direction + "_sortieren";
            const QByteArray text
                = QByteArray("Nach ") + field.second + ' ' + direction + " sortieren";
            rows << row(name.constData(), text.constData());
        }
    }
    rows << row("actionRovive_2_Daten_importieren", "Rovive 2 Daten importieren...", "menuDatei")
         << row("actionRahmenbedingungen", "Rahmenbedingungen")
         << row("actionArtikelstandort_und_Bearbeitungszeit",
                "Artikelstandort und Bearbeitungszeit")
         << row("actionPreise_und_Mengen", "Preise und Mengen")
         << row("actionNach_interner_Referenz_aufsteigend", "Nach interner Referenz aufsteigend")
         << row("actionNach_interner_Referenz_absteigend", "Nach interner Referenz absteigend")
         << row("actionPapierkorb_leeren", "Papierkorb leeren")
         << row("actionDatenbank_aufr_umen", "Datenbank und Bilder aufräumen", "menuExtras")
         << row("actionZahlungsmethoden", "Zahlungsmethoden")
         << row("actionInlandsversand", "Inlandsversand")
         << row("actionKonto_PayPal_und_Shopkategorien", "Konto, PayPal und Shopkategorien")
         << row("actionAuslandsversand", "Auslandsversand")
         << row("actionFormat_und_Laufzeit", "Format und Laufzeit")
         << row("actionSuchen_und_ersetzen", "Suchen und ersetzen");
    return rows;
}

// Warnings and errors logged while the form is built and shown.
QStringList g_logged;
QtMessageHandler g_previousHandler = nullptr;

void recordingHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        g_logged << message;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

} // namespace

class TestMainWindowForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void buildsWithoutWarnings();
    void actions_data();
    void actions();
    void noOtherActions();
    void widgets_data();
    void widgets();

private:
    QObject *object(const QString &name) const
    {
        const QList<QObject *> found = m_window->findChildren<QObject *>(name);
        return found.size() == 1 ? found.first() : nullptr;
    }

    std::unique_ptr<QMainWindow> m_window;
    Ui::MainWindow m_ui;
};

void TestMainWindowForm::initTestCase()
{
    m_window = std::make_unique<QMainWindow>();
    g_previousHandler = qInstallMessageHandler(recordingHandler);
    m_ui.setupUi(m_window.get());
    m_window->show();
    const bool exposed = QTest::qWaitForWindowExposed(m_window.get());
    QCoreApplication::processEvents();
    qInstallMessageHandler(g_previousHandler);
    QVERIFY(exposed);
}

void TestMainWindowForm::buildsWithoutWarnings()
{
    QVERIFY2(g_logged.isEmpty(), qPrintable(g_logged.join(QLatin1Char('\n'))));
}

void TestMainWindowForm::actions_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QStringList>("placedIn");
    for (const ActionRow &r : allActions())
        QTest::newRow(qPrintable(r.name)) << r.text << r.shortcut << r.icon << r.placedIn;
}

void TestMainWindowForm::actions()
{
    QFETCH(QString, text);
    QFETCH(QString, shortcut);
    QFETCH(QString, icon);
    QFETCH(QStringList, placedIn);

    const QString name = QString::fromUtf8(QTest::currentDataTag());
    auto *action = qobject_cast<QAction *>(object(name));
    QVERIFY2(action, qPrintable(name + QStringLiteral(": missing or not unique")));
    QCOMPARE(action->text(), text);
    QCOMPARE(action->shortcut(), QKeySequence(shortcut, QKeySequence::PortableText));

    if (icon.isEmpty()) {
        QVERIFY(action->icon().isNull());
    } else {
        const QPixmap expected(QStringLiteral(":/buttons/images/") + icon);
        QVERIFY2(!expected.isNull(), qPrintable(icon + QStringLiteral(" is not a resource")));
        const QList<QSize> sizes = action->icon().availableSizes();
        QVERIFY(!sizes.isEmpty());
        QCOMPARE(
            action->icon().pixmap(sizes.first()).toImage().convertToFormat(QImage::Format_ARGB32),
            expected.toImage().convertToFormat(QImage::Format_ARGB32));
    }

    for (const QString &containerName : kContainers) {
        auto *container = qobject_cast<QWidget *>(object(containerName));
        QVERIFY2(container, qPrintable(containerName));
        QVERIFY2(container->actions().contains(action) == placedIn.contains(containerName),
                 qPrintable(name + QStringLiteral(" misplaced in ") + containerName));
    }
}

void TestMainWindowForm::noOtherActions()
{
    QStringList expected, found;
    for (const ActionRow &r : allActions())
        expected << r.name;
    for (QAction *action : m_window->findChildren<QAction *>(QString(), Qt::FindDirectChildrenOnly))
        found << action->objectName();
    QCOMPARE(found, expected);
}

void TestMainWindowForm::widgets_data()
{
    QTest::addColumn<QByteArray>("className");
    // The article list's own class is still to come; until then the form holds its base.
    const QString widgets = QStringLiteral(
        "centralWidget:QWidget menuBar:QMenuBar mainToolBar:QToolBar statusBar:QStatusBar "
        "BannerWidget:QWidget BannerLabel:ClickLabel main_splitter:MacSplitter "
        "cat_article_splitter:MacSplitter frame:QFrame treeView:QTreeView frame_2:QFrame "
        "widget:GradientWidget SearchBy:QLineEdit InDesc:QCheckBox AccountFilterBox:QComboBox "
        "itemlist:QTreeWidget SyncWidget:QWidget SyncLabel:QLabel SyncProgressBar:QProgressBar "
        "newslist:QListView");
    for (const QString &entry : widgets.split(QLatin1Char(' ')))
        QTest::newRow(qPrintable(entry.section(QLatin1Char(':'), 0, 0)))
            << entry.section(QLatin1Char(':'), 1).toLatin1();
}

void TestMainWindowForm::widgets()
{
    QFETCH(QByteArray, className);
    const QString name = QString::fromUtf8(QTest::currentDataTag());
    auto *widget = qobject_cast<QWidget *>(object(name));
    QVERIFY2(widget, qPrintable(name + QStringLiteral(": missing or not unique")));
    QVERIFY2(widget->inherits(className.constData()),
             qPrintable(name + QStringLiteral(" is a ")
                        + QString::fromLatin1(widget->metaObject()->className())));
}

APP_TEST_MAIN(TestMainWindowForm)
#include "test_mainwindowform.moc"
