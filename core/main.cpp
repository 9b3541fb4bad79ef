#include "core/database.h"
#include "core/logging.h"
#include "core/newsitem.h"
#include "core/statics.h"
#include "core/translators.h"

#include <QApplication>
#include <QDate>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QNetworkProxyFactory>

int main(int argc, char *argv[])
{
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath());
    qRegisterMetaType<NewsItem>("NewsItem");

    // The data folder, the schema and the day's log come first; the window follows.
    Database db(QString(), nullptr);
    Statics::InitLogger(db.getCurrentLogDir() + QStringLiteral("ZirevPavlet_")
                        + QDate::currentDate().toString(QStringLiteral("yyyy_MM_dd"))
                        + QStringLiteral(".log"));
    QString language = db.getOption(QStringLiteral("currentLanguage"), QString());
    if (language.isEmpty())
        language = QLocale::system().name();
    new Translators(language);
    qCInfo(lcApp).noquote() << "Zerire 3.1.8 started, data folder" << db.getCurrentDataDir();

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Zerire 3.1.8")
                          + (db.isMySQL ? QStringLiteral(" MySQL") : QString()));
    window.setWindowIcon(QIcon(QStringLiteral(":/buttons/images/q3_64x64px.png")));
    auto *label = new QLabel(QStringLiteral("Zerire 3"), &window);
    label->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(label);
    window.resize(1000, 700);
    window.show();
    return app.exec();
}
