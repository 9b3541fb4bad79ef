// The main window's form (forms/mainwindow.ui), built on a plain QMainWindow: every action with
// its text, shortcut, icon and places, and the widgets other code reaches by object name.

#include "ui_mainwindow.h"

#include "tests/support/testmain.h"

#include <QAction>
#include <QMainWindow>
#include <QtTest>

#include <memory>

namespace {

// Where an action is placed, by the first letter: Datei, Bearbeiten, Extras, Hilfe, Toolbar.
const QStringList kContainers = QStringLiteral("DmenuDatei BmenuBearbeiten EmenuExtras "
                                               "HmenuHilfe TmainToolBar")
                                    .split(QLatin1Char(' '));

// Every action of the form: name|text|places|shortcut|icon, the icon under
// :/buttons/images/. The context menus are built in code, and the quit action goes into
// "Datei" only when the window's constructor appends it.
QStringList allActions()
{
    QStringList rows = QString::fromUtf8(R"(actionDatenverzeichnis_ffnen|Datenverzeichnis öffnen|H
actionEinstellungen|Einstellungen|ET||development.png
actionNeuer_Artikel|Neuer Artikel|DT|Ctrl+N|Edit-Flat-83.png
actionL_schen|Löschen|BT|Del|trash.png
actionPlanen|Startzeit planen|BT|Ctrl+P|Calendar-Flat-33.png
actionDuplizieren|Duplizieren|BT|Ctrl+Shift+C|copy.png
actionIn_Ausgang_legen|In Ausgang legen|BT|Ctrl+Shift+A|Upload File-Flat-9.png
actionAuwahl_beenden|Auwahl beenden|BT|Ctrl+B|Stop-Flat-247.png
actionSynchronisieren|Synchronisieren|DT|F5|WorldWide-Flat-87.png
actionNeuer_Ordner|Neuer Ordner
actionUmbenennen|Umbenennen
actionL_schen_2|Löschen
actionListe_leeren|Liste leeren
actionAusschneiden|Ausschneiden|B|Ctrl+X
actionKopieren|Kopieren|B|Ctrl+C
actionEinf_gen|Einfügen|B|Ctrl+V
actionAlles_markieren|Alles markieren|B|Ctrl+A
actionBeenden|Beenden
action_ber_1|Über %1|H
actionProjektseite_ffnen|Projektseite öffnen...
actionArtikel_online_aufrufen|Artikel online aufrufen|B|Ctrl+O
action_1_Webseite_besuchen|Webseite besuchen|H
actionHilfe|Onlinehilfe|H|F1
actionExportieren|Exportieren...|D
actionImportieren|Importieren...|D
actionCache_leeren|Cache leeren|E
actionDaten_sichern|Daten sichern|D
actionDaten_wiederherstellen|Daten wiederherstellen|D
actionRovive_2_Daten_importieren|Rovive 2 Daten importieren...|D
actionRahmenbedingungen|Rahmenbedingungen
actionArtikelstandort_und_Bearbeitungszeit|Artikelstandort und Bearbeitungszeit
actionPreise_und_Mengen|Preise und Mengen
actionNach_interner_Referenz_aufsteigend|Nach interner Referenz aufsteigend
actionNach_interner_Referenz_absteigend|Nach interner Referenz absteigend
actionPapierkorb_leeren|Papierkorb leeren
actionDatenbank_aufr_umen|Datenbank und Bilder aufräumen|E
actionZahlungsmethoden|Zahlungsmethoden
actionInlandsversand|Inlandsversand
actionKonto_PayPal_und_Shopkategorien|Konto, PayPal und Shopkategorien
actionAuslandsversand|Auslandsversand
actionFormat_und_Laufzeit|Format und Laufzeit
actionSuchen_und_ersetzen|Suchen und ersetzen)")
                           .split(QLatin1Char('\n'));
    for (const char *field : { "Titel", "Startpreis", "Beobachter", "Ende", "Menge", "Verkäufen",
                               "Startzeit", "interner Id" }) {
        for (const char *direction : { "aufsteigend", "absteigend" }) {
            const QString text = QStringLiteral("Nach %1 %2 sortieren")
                                     .arg(QString::fromUtf8(field), QLatin1String(direction));
            QString name = QStringLiteral("action") + text;
            name.replace(QLatin1Char(' '), QLatin1Char('_')).replace(QStringLiteral("ä"), "_");
            rows << name + QLatin1Char('|') + text;
        }
    }
    return rows;
}

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

private:
    std::unique_ptr<QMainWindow> m_window;
    Ui::MainWindow m_ui;

    QObject *object(const QString &name) const
    {
        const QList<QObject *> found = m_window->findChildren<QObject *>(name);
        return found.size() == 1 ? found.first() : nullptr;
    }

private slots:
    void initTestCase()
    {
        m_window = std::make_unique<QMainWindow>();
        g_previousHandler = qInstallMessageHandler(recordingHandler);
        m_ui.setupUi(m_window.get());
        m_window->show();
        const bool exposed = QTest::qWaitForWindowExposed(m_window.get());
        QCoreApplication::processEvents();
        qInstallMessageHandler(g_previousHandler);
        QVERIFY(exposed);
        QVERIFY2(g_logged.isEmpty(), qPrintable(g_logged.join(QLatin1Char('\n'))));
    }

    void actions_data()
    {
        QTest::addColumn<QStringList>("fields");
        for (const QString &row : allActions())
            QTest::newRow(qPrintable(row.section(QLatin1Char('|'), 0, 0)))
                << QStringList((row + QStringLiteral("||||")).split(QLatin1Char('|')).mid(1, 4));
    }
    void actions()
    {
        QFETCH(QStringList, fields); // text, places, shortcut, icon
        const QString name = QString::fromUtf8(QTest::currentDataTag());
        auto *action = qobject_cast<QAction *>(object(name));
        QVERIFY2(action, qPrintable(name + QStringLiteral(": missing or not unique")));
        QCOMPARE(action->text(), fields.at(0));
        QCOMPARE(action->shortcut(), QKeySequence(fields.at(2), QKeySequence::PortableText));
        const QString icon = fields.at(3).isEmpty()
            ? QString()
            : QStringLiteral(":/buttons/images/") + fields.at(3);
        QVERIFY2(icon.isEmpty() || QFile::exists(icon), qPrintable(icon));
        QCOMPARE(action->icon().pixmap(16).toImage(), QIcon(icon).pixmap(16).toImage());
        for (const QString &container : kContainers) {
            auto *widget = qobject_cast<QWidget *>(object(container.mid(1)));
            QVERIFY2(widget, qPrintable(container));
            QVERIFY2(widget->actions().contains(action) == fields.at(1).contains(container.at(0)),
                     qPrintable(name + QStringLiteral(" misplaced in ") + container.mid(1)));
        }
    }

    // With every listed action there once, no other.
    void noOtherActions()
    {
        QCOMPARE(m_window->findChildren<QAction *>(QString(), Qt::FindDirectChildrenOnly).size(),
                 allActions().size());
    }

    void widgets()
    {
        const QString widgets = QStringLiteral(
            "centralWidget:QWidget menuBar:QMenuBar mainToolBar:QToolBar statusBar:QStatusBar "
            "BannerWidget:QWidget BannerLabel:ClickLabel main_splitter:MacSplitter "
            "cat_article_splitter:MacSplitter frame:QFrame treeView:QTreeView frame_2:QFrame "
            "widget:GradientWidget SearchBy:QLineEdit InDesc:QCheckBox AccountFilterBox:QComboBox "
            "itemlist:QTreeWidget SyncWidget:QWidget SyncLabel:QLabel SyncProgressBar:QProgressBar "
            "newslist:QListView");
        for (const QString &entry : widgets.split(QLatin1Char(' '))) {
            const QString name = entry.section(QLatin1Char(':'), 0, 0);
            auto *widget = qobject_cast<QWidget *>(object(name));
            QVERIFY2(widget, qPrintable(name + QStringLiteral(": missing or not unique")));
            QVERIFY2(
                widget->inherits(qPrintable(entry.section(QLatin1Char(':'), 1))),
                qPrintable(name + QStringLiteral(" is a ") + widget->metaObject()->className()));
        }
    }
};

APP_TEST_MAIN(TestMainWindowForm)
#include "test_mainwindowform.moc"
