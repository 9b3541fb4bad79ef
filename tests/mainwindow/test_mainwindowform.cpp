// The main window's form (forms/mainwindow.ui), built on a plain QMainWindow: the actions
// with their texts, tool tips, shortcuts, icons and places, the menus and the tool bar in
// order, and the widgets and layouts that other code reaches by object name.

#include "ui_mainwindow.h"

#include "tests/support/testmain.h"

#include <QAction>
#include <QGridLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMetaProperty>
#include <QPixmap>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTranslator>
#include <QtTest>

#include <memory>
#include <set>
#include <utility>

namespace {

// The containers of the form that hold actions.
const QStringList kFormContainers
    = { QStringLiteral("menuDatei"), QStringLiteral("menuBearbeiten"), QStringLiteral("menuExtras"),
        QStringLiteral("menuHilfe"), QStringLiteral("mainToolBar") };

struct ActionRow
{
    QString name;
    QString text;
    QString shortcut; // portable text, empty: none
    QString icon; // file under :/buttons/images/, empty: none
    QString toolTip; // empty: no tool tip of its own
    QStringList placedIn; // form containers only; context menus are built in code
    bool enabled = true;
    QAction::MenuRole role = QAction::TextHeuristicRole;
    Qt::ShortcutContext context = Qt::WindowShortcut;
};

ActionRow row(const char *name, const char *text, const char *placedIn = "",
              const char *shortcut = "")
{
    ActionRow r;
    r.name = QString::fromUtf8(name);
    r.text = QString::fromUtf8(text);
    r.shortcut = QString::fromUtf8(shortcut);
    r.placedIn = QString::fromUtf8(placedIn).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return r;
}

ActionRow withIcon(ActionRow r, const char *icon, const char *toolTip, bool enabled)
{
    r.icon = QString::fromUtf8(icon);
    r.toolTip = QString::fromUtf8(toolTip);
    r.enabled = enabled;
    return r;
}

ActionRow withRole(ActionRow r, QAction::MenuRole role)
{
    r.role = role;
    return r;
}

// Every action of the form, in the form's order.
QVector<ActionRow> allActions()
{
    QVector<ActionRow> rows;
    rows << row("actionDatenverzeichnis_ffnen", "Datenverzeichnis öffnen", "menuHilfe")
         << withRole(withIcon(row("actionEinstellungen", "Einstellungen", "menuExtras mainToolBar"),
                              "development.png",
                              "Ruft die allgemeinen Einstellungen für das Programm auf", true),
                     QAction::PreferencesRole)
         << withIcon(row("actionNeuer_Artikel", "Neuer Artikel", "menuDatei mainToolBar", "Ctrl+N"),
                     "Edit-Flat-83.png", "Einen neuen Artikel als Vorlage anlegen", true)
         << withIcon(row("actionL_schen", "Löschen", "menuBearbeiten mainToolBar", "Del"),
                     "trash.png", "Löscht die aktuell ausgewählten Artikel", false)
         << withIcon(
                row("actionPlanen", "Startzeit planen", "menuBearbeiten mainToolBar", "Ctrl+P"),
                "Calendar-Flat-33.png",
                "Legen Sie einen Zeitpunkt fest, zu dem der Artikel hochgeladen wird", false)
         << withIcon(row("actionDuplizieren", "Duplizieren", "menuBearbeiten mainToolBar",
                         "Ctrl+Shift+C"),
                     "copy.png", "Erstellt eine Kopie der ausgewählten Artikel", false)
         << withIcon(row("actionIn_Ausgang_legen", "In Ausgang legen", "menuBearbeiten mainToolBar",
                         "Ctrl+Shift+A"),
                     "Upload File-Flat-9.png",
                     "Legt die ausgewählten Artikel in den Ausgang und aktualisiert diese", false)
         << withIcon(row("actionAuwahl_beenden", "Auwahl beenden", "menuBearbeiten mainToolBar",
                         "Ctrl+B"),
                     "Stop-Flat-247.png", "Beendet die ausgewählten Artikel auf eBay", false)
         << withIcon(row("actionSynchronisieren", "Synchronisieren", "menuDatei mainToolBar", "F5"),
                     "WorldWide-Flat-87.png",
                     "Ruft neue Artikel ab und aktualisiert Inhalte bestehender Artikel", true)
         << row("actionNeuer_Ordner", "Neuer Ordner") << row("actionUmbenennen", "Umbenennen")
         << row("actionL_schen_2", "Löschen") << row("actionListe_leeren", "Liste leeren")
         << row("actionAusschneiden", "Ausschneiden", "menuBearbeiten", "Ctrl+X")
         << row("actionKopieren", "Kopieren", "menuBearbeiten", "Ctrl+C")
         << row("actionEinf_gen", "Einfügen", "menuBearbeiten", "Ctrl+V");
    ActionRow selectAll
        = row("actionAlles_markieren", "Alles markieren", "menuBearbeiten", "Ctrl+A");
    selectAll.context = Qt::WidgetShortcut;
    rows << selectAll
         // The quit action goes into "Datei" only when the window's constructor appends it.
         << withRole(row("actionBeenden", "Beenden"), QAction::QuitRole)
         << withRole(row("action_ber_1", "Über %1", "menuHilfe"), QAction::AboutRole)
         << row("actionProjektseite_ffnen", "Projektseite öffnen...")
         << row("actionArtikel_online_aufrufen", "Artikel online aufrufen", "menuBearbeiten",
                "Ctrl+O")
         << row("action_1_Webseite_besuchen", "Webseite besuchen", "menuHilfe")
         << row("actionHilfe", "Onlinehilfe", "menuHilfe", "F1")
         << row("actionExportieren", "Exportieren...", "menuDatei")
         << row("actionImportieren", "Importieren...", "menuDatei")
         << row("actionCache_leeren", "Cache leeren", "menuExtras")
         << row("actionDaten_sichern", "Daten sichern", "menuDatei")
         << row("actionDaten_wiederherstellen", "Daten wiederherstellen", "menuDatei");
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

QStringList names(const QList<QAction *> &actions)
{
    QStringList result;
    for (QAction *action : actions) {
        if (action->isSeparator())
            result << QStringLiteral("-");
        else if (action->menu())
            result << action->menu()->objectName();
        else
            result << action->objectName();
    }
    return result;
}

QImage asImage(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
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

// Records which texts the form asks to translate, under which context; translates nothing.
class RecordingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        Q_UNUSED(disambiguation)
        Q_UNUSED(n)
        requested.insert({ QString::fromUtf8(context), QString::fromUtf8(sourceText) });
        return QString();
    }
    bool isEmpty() const override { return false; }

    mutable std::set<std::pair<QString, QString>> requested;
};

} // namespace

class TestMainWindowForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void buildsWithoutWarnings();
    void windowFrame();
    void actions_data();
    void actions();
    void noOtherActions();
    void containers_data();
    void containers();
    void widgets_data();
    void widgets();
    void textsGoThroughTranslation();

private:
    QObject *object(const QString &name) const;

    std::unique_ptr<QMainWindow> m_window;
    Ui::MainWindow m_ui;
    QSize m_sizeAfterSetup;
};

void TestMainWindowForm::initTestCase()
{
    m_window = std::make_unique<QMainWindow>();
    g_previousHandler = qInstallMessageHandler(recordingHandler);
    m_ui.setupUi(m_window.get());
    m_sizeAfterSetup = m_window->size();
    m_window->show();
    const bool exposed = QTest::qWaitForWindowExposed(m_window.get());
    QCoreApplication::processEvents();
    qInstallMessageHandler(g_previousHandler);
    QVERIFY(exposed);
}

QObject *TestMainWindowForm::object(const QString &name) const
{
    if (name == m_window->objectName())
        return m_window.get();
    const QList<QObject *> found = m_window->findChildren<QObject *>(name);
    return found.size() == 1 ? found.first() : nullptr;
}

void TestMainWindowForm::buildsWithoutWarnings()
{
    QVERIFY2(g_logged.isEmpty(), qPrintable(g_logged.join(QLatin1Char('\n'))));
}

void TestMainWindowForm::windowFrame()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("ZirevPavlet"));
    QCOMPARE(m_sizeAfterSetup, QSize(1012, 543));
    QCOMPARE(m_window->centralWidget(), object(QStringLiteral("centralWidget")));
    QCOMPARE(m_window->menuBar(), object(QStringLiteral("menuBar")));
    QCOMPARE(m_window->statusBar(), object(QStringLiteral("statusBar")));
    QVERIFY(qobject_cast<QStatusBar *>(object(QStringLiteral("statusBar"))));
    auto *toolBar = qobject_cast<QToolBar *>(object(QStringLiteral("mainToolBar")));
    QVERIFY(toolBar);
    QCOMPARE(m_window->toolBarArea(toolBar), Qt::TopToolBarArea);
    QVERIFY(!toolBar->isMovable());
    QVERIFY(!toolBar->isFloatable());
    QCOMPARE(toolBar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
}

void TestMainWindowForm::actions_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QStringList>("placedIn");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("role");
    QTest::addColumn<int>("context");
    for (const ActionRow &r : allActions()) {
        QTest::newRow(qPrintable(r.name))
            << r.text << r.shortcut << r.icon << r.toolTip << r.placedIn << r.enabled << int(r.role)
            << int(r.context);
    }
}

void TestMainWindowForm::actions()
{
    QFETCH(QString, text);
    QFETCH(QString, shortcut);
    QFETCH(QString, icon);
    QFETCH(QString, toolTip);
    QFETCH(QStringList, placedIn);
    QFETCH(bool, enabled);
    QFETCH(int, role);
    QFETCH(int, context);

    const QString name = QString::fromUtf8(QTest::currentDataTag());
    const QList<QAction *> found = m_window->findChildren<QAction *>(name);
    QCOMPARE(found.size(), 1);
    QAction *action = found.first();
    QCOMPARE(action->parent(), m_window.get());

    QCOMPARE(action->text(), text);
    QCOMPARE(action->shortcut(), QKeySequence(shortcut, QKeySequence::PortableText));
    if (toolTip.isEmpty()) {
        // No tool tip of its own: Qt derives it from the text.
        QCOMPARE(action->toolTip(), QAction(text).toolTip());
    } else {
        QCOMPARE(action->toolTip(), toolTip);
    }
    QCOMPARE(action->isEnabled(), enabled);
    QCOMPARE(int(action->menuRole()), role);
    QCOMPARE(int(action->shortcutContext()), context);

    if (icon.isEmpty()) {
        QVERIFY(action->icon().isNull());
    } else {
        const QPixmap expected(QStringLiteral(":/buttons/images/") + icon);
        QVERIFY2(!expected.isNull(), qPrintable(icon + QStringLiteral(" is not a resource")));
        QVERIFY(!action->icon().isNull());
        const QList<QSize> sizes = action->icon().availableSizes();
        QVERIFY(!sizes.isEmpty());
        QCOMPARE(asImage(action->icon().pixmap(sizes.first())), asImage(expected));
    }

    for (const QString &containerName : kFormContainers) {
        auto *container = qobject_cast<QWidget *>(object(containerName));
        QVERIFY2(container, qPrintable(containerName));
        QVERIFY2(container->actions().contains(action) == placedIn.contains(containerName),
                 qPrintable(name
                            + (placedIn.contains(containerName) ? QStringLiteral(" not in ")
                                                                : QStringLiteral(" in "))
                            + containerName));
    }
}

void TestMainWindowForm::noOtherActions()
{
    // The window's own actions, in the form's order: nothing missing, nothing extra.
    QStringList expected;
    for (const ActionRow &r : allActions())
        expected << r.name;
    QCOMPARE(names(m_window->findChildren<QAction *>(QString(), Qt::FindDirectChildrenOnly)),
             expected);
}

void TestMainWindowForm::containers_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("entries");
    const QString sep = QStringLiteral("-");
    QTest::newRow("menuBar") << QString()
                             << QStringList { "menuDatei", "menuBearbeiten", "menuExtras",
                                              "menuHilfe" };
    // The separator and "Beenden" at the end of "Datei" are appended by the window.
    QTest::newRow("menuDatei") << "Datei"
                               << QStringList { "actionNeuer_Artikel",
                                                sep,
                                                "actionImportieren",
                                                "actionExportieren",
                                                sep,
                                                "actionRovive_2_Daten_importieren",
                                                sep,
                                                "actionSynchronisieren",
                                                sep,
                                                "actionDaten_sichern",
                                                "actionDaten_wiederherstellen" };
    QTest::newRow("menuBearbeiten") << "Bearbeiten"
                                    << QStringList { "actionAusschneiden",
                                                     "actionKopieren",
                                                     "actionEinf_gen",
                                                     "actionL_schen",
                                                     sep,
                                                     "actionAlles_markieren",
                                                     sep,
                                                     "actionDuplizieren",
                                                     "actionPlanen",
                                                     "actionIn_Ausgang_legen",
                                                     "actionAuwahl_beenden",
                                                     "actionArtikel_online_aufrufen" };
    QTest::newRow("menuExtras") << "Extras"
                                << QStringList { "actionEinstellungen", "actionCache_leeren", sep,
                                                 "actionDatenbank_aufr_umen" };
    QTest::newRow("menuHilfe") << "Hilfe"
                               << QStringList { "actionHilfe", "action_1_Webseite_besuchen", sep,
                                                "actionDatenverzeichnis_ffnen", "action_ber_1" };
    QTest::newRow("mainToolBar") << QString()
                                 << QStringList { "actionNeuer_Artikel",
                                                  sep,
                                                  "actionDuplizieren",
                                                  "actionPlanen",
                                                  "actionL_schen",
                                                  sep,
                                                  "actionIn_Ausgang_legen",
                                                  "actionAuwahl_beenden",
                                                  sep,
                                                  "actionSynchronisieren",
                                                  "actionEinstellungen" };
}

void TestMainWindowForm::containers()
{
    QFETCH(QString, title);
    QFETCH(QStringList, entries);
    auto *container = qobject_cast<QWidget *>(object(QString::fromUtf8(QTest::currentDataTag())));
    QVERIFY(container);
    QCOMPARE(names(container->actions()), entries);
    if (auto *menu = qobject_cast<QMenu *>(container)) {
        QCOMPARE(menu->title(), title);
        QCOMPARE(menu->parent(), object(QStringLiteral("menuBar")));
    }
}

void TestMainWindowForm::widgets_data()
{
    // Where a widget sits: in a grid layout at (row, column), or in a splitter at index row.
    QTest::addColumn<QByteArray>("className");
    QTest::addColumn<QString>("container");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    auto add
        = [](const char *name, const char *className, const char *container, int row, int column) {
              QTest::newRow(name) << QByteArray(className) << QString::fromUtf8(container) << row
                                  << column;
          };
    add("centralWidget", "QWidget", "", 0, 0);
    add("BannerWidget", "QWidget", "mainGridLayout", 0, 0);
    add("BannerLabel", "ClickLabel", "gridLayout_5", 0, 0);
    add("main_splitter", "MacSplitter", "mainGridLayout", 1, 0);
    add("cat_article_splitter", "MacSplitter", "main_splitter", 0, 0);
    add("frame", "QFrame", "cat_article_splitter", 0, 0);
    add("treeView", "QTreeView", "gridLayout_2", 0, 0);
    add("frame_2", "QFrame", "cat_article_splitter", 1, 0);
    add("widget", "GradientWidget", "gridLayout", 0, 0);
    add("SearchBy", "QLineEdit", "gridLayout_4", 0, 0);
    add("InDesc", "QCheckBox", "gridLayout_4", 0, 1);
    add("AccountFilterBox", "QComboBox", "gridLayout_4", 0, 2);
    // The article list's own class is still to come; until then the form holds its base.
    add("itemlist", "QTreeWidget", "gridLayout", 1, 0);
    add("SyncWidget", "QWidget", "gridLayout", 2, 0);
    add("SyncLabel", "QLabel", "gridLayout_3", 0, 0);
    add("SyncProgressBar", "QProgressBar", "gridLayout_3", 1, 0);
    add("newslist", "QListView", "main_splitter", 1, 0);
}

void TestMainWindowForm::widgets()
{
    QFETCH(QByteArray, className);
    QFETCH(QString, container);
    QFETCH(int, row);
    QFETCH(int, column);
    const QString name = QString::fromUtf8(QTest::currentDataTag());
    auto *widget = qobject_cast<QWidget *>(object(name));
    QVERIFY2(widget, qPrintable(name + QStringLiteral(": missing or not unique")));
    QVERIFY2(widget->inherits(className.constData()),
             qPrintable(name + QStringLiteral(" is a ")
                        + QString::fromLatin1(widget->metaObject()->className())));
    if (container.isEmpty())
        return;

    QObject *holder = object(container);
    QVERIFY2(holder, qPrintable(container));
    if (auto *splitter = qobject_cast<QSplitter *>(holder)) {
        QCOMPARE(splitter->indexOf(widget), row);
    } else {
        auto *grid = qobject_cast<QGridLayout *>(holder);
        QVERIFY2(grid, qPrintable(container + QStringLiteral(" is no grid layout")));
        const int index = grid->indexOf(widget);
        QVERIFY2(index >= 0, qPrintable(name + QStringLiteral(" not in ") + container));
        int r = -1, c = -1, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(index, &r, &c, &rowSpan, &columnSpan);
        QCOMPARE(r, row);
        QCOMPARE(c, column);
    }
}

void TestMainWindowForm::textsGoThroughTranslation()
{
    RecordingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    QCoreApplication::removeTranslator(&translator);

    const QString context = QStringLiteral("MainWindow");
    QStringList sources
        = { QStringLiteral("ZirevPavlet"), QStringLiteral("Datei"),
            QStringLiteral("Bearbeiten"),  QStringLiteral("Extras"),
            QStringLiteral("Hilfe"),       QStringLiteral("Nach Artikeln suchen..."),
            QStringLiteral("Beschreibung") };
    for (const ActionRow &r : allActions()) {
        sources << r.text;
        if (!r.shortcut.isEmpty())
            sources << r.shortcut;
        if (!r.toolTip.isEmpty())
            sources << r.toolTip;
    }
    for (const QString &source : qAsConst(sources)) {
        QVERIFY2(translator.requested.count({ context, source }) == 1,
                 qPrintable(source + QStringLiteral(" not translated in context ") + context));
    }
}

APP_TEST_MAIN(TestMainWindowForm)
#include "test_mainwindowform.moc"
