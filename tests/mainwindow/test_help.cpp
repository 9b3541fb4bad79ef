// The main window's banner from the maker's server, the help and web links and the About
// dialog.

#include "core/gzip.h"
#include "core/imagelimits.h"
#include "core/statics.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/blackpng.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/helddecodes.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/messagecapture.h"
#include "tests/support/peakmemory.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "tests/support/urlcapture.h"

#include <QAction>
#include <QBuffer>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>

#include <memory>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::MainWindowFixture;
using TestSupport::TestDatabase;

namespace {

const QString kBannerPath = QStringLiteral("/zaruvovezira/banner.php");

QByteArray png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A picture of random dots, which does not pack: some 3 bytes a pixel.
QByteArray noisePng(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(4711);
    for (int y = 0; y < height; ++y)
        random.fillRange(reinterpret_cast<quint32 *>(image.scanLine(y)), width);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A picture that decodes, 4096 x 4096 pixels of one colour as a BMP of 48 MB, packed into
// some 50 KB and sent as a packed body.
FakeReply bomb()
{
    static const QByteArray packed = [] {
        QImage image(4096, 4096, QImage::Format_RGB888);
        image.fill(Qt::darkRed);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "BMP");
        return Gzip::compress(bytes);
    }();
    return FakeReply::ok(packed, "image/png").header("Content-Encoding", "gzip");
}

// JSON written with ' for ", and "@" for the fake server's address.
QByteArray json(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

// What the banner shows.
struct Banner
{
    bool visible;
    int height;
    QString link;
    QString colour;
    QSize picture;
};

} // namespace

class TestHelp : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDatabase> m_data;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<MainWindowFixture> m_fixture;

    MainWindow *window() const { return m_fixture->window(); }
    QTimer *bannerTimer() const { return window()->findChild<QTimer *>("bannerTimer"); }
    QWidget *bannerWidget() const { return window()->findChild<QWidget *>("BannerWidget"); }
    QLabel *bannerLabel() const { return window()->findChild<QLabel *>("BannerLabel"); }
    QString address(const QString &path) const { return m_server->url(path).toString(); }

    Banner shownBanner() const
    {
        return { bannerWidget()->isVisible(), bannerWidget()->maximumHeight(),
                 bannerLabel()->property("link").toString(),
                 bannerWidget()->palette().color(QPalette::Window).name(),
                 bannerLabel()->pixmap(Qt::ReturnByValue).size() };
    }

    // One banner run against the description `body`; returns once it has armed the next.
    void runBanner(const FakeReply &description)
    {
        m_server->setReply(kBannerPath, description);
        bannerTimer()->stop();
        window()->setupBanner();
        // The window is not held up while the server answers.
        QVERIFY(!bannerTimer()->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(bannerTimer()->isActive(), 5000);
        // The picture is decoded off the window thread, and shown when that ends.
        QTRY_COMPARE_WITH_TIMEOUT(ImageLimits::pendingDecodes(), 0, 5000);
    }

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<FakeHttpServer>();
        m_server->pointConfigHere();
        m_server->setReply(QStringLiteral("/bild/alt.png"),
                           FakeReply::ok(png(10, 10), "image/png"));
        m_server->setReply(QStringLiteral("/bild/neu.png"), FakeReply::ok(png(20, 5), "image/png"));
        m_server->setReply(QStringLiteral("/bild/kaputt.png"),
                           FakeReply::ok("kein Bild", "image/png"));
        m_server->setReply(QStringLiteral("/bild/bombe.png"), bomb());
        m_server->setReply(QStringLiteral("/bild/riesig.png"),
                           FakeReply::ok(noisePng(1000, 800), "image/png"));
        // 64 megapixels in 200 KB.
        m_server->setReply(QStringLiteral("/bild/pixel.png"),
                           FakeReply::ok(TestSupport::blackPng(8000, 8000), "image/png"));
        m_data = std::make_unique<TestDatabase>(TestSupport::Backend::SQLite);
        QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
        m_fixture = std::make_unique<MainWindowFixture>(*m_data);
        QTRY_VERIFY(bannerTimer() && bannerTimer()->isActive());
    }
    void cleanupTestCase()
    {
        m_fixture.reset();
        TestSupport::resetApplicationState();
    }

    void banner_data()
    {
        QTest::addColumn<QByteArray>("description");
        QTest::addColumn<bool>("hangs"); // the server never answers in time
        QTest::addColumn<bool>("changed"); // false: the banner stays as it was
        QTest::addColumn<bool>("visible");
        QTest::addColumn<int>("height");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<QString>("opens"); // what a click on the picture opens

        QTest::newRow("applied") << json(
            "{'duration':30,'image':'@/bild/neu.png', "
            "'bannerHeight':60,'link':'https://neu.example/x','bg_r':10,'bg_g':20,'bg_b':30}")
                                 << false << true << true << 60 << "https://neu.example/x"
                                 << "#0a141e" << 30 << "https://neu.example/x";
        QTest::newRow("no height, one colour missing")
            << json("{'image':'@/bild/neu.png','bg_r':10,'bg_g':20}") << false << true << true << 0
            << ""
            << "#010203" << 5 << "";
        QTest::newRow("empty picture hides") << json("{'duration':0,'image':''}") << false << false
                                             << false << 50 << "https://alt.example/"
                                             << "#010203" << 5 << "https://alt.example/";
        QTest::newRow("link that is no web address")
            << json("{'image':'@/bild/neu.png','bannerHeight':40,'link':'file:///etc/passwd'}")
            << false << true << true << 40 << "file:///etc/passwd"
            << "#010203" << 5 << "";
        QTest::newRow("malformed JSON") << json("{'duration':30,'image':") << false << false << true
                                        << 50 << "https://alt.example/"
                                        << "#010203" << 5 << "https://alt.example/";
        QTest::newRow("JSON but no object")
            << QByteArray("[1,2]") << false << false << true << 50 << "https://alt.example/"
            << "#010203" << 5 << "https://alt.example/";
        QTest::newRow("picture that doesn't decode")
            << json("{'duration':7,'image':'@/bild/kaputt.png','bannerHeight':90}") << false
            << false << true << 50 << "https://alt.example/"
            << "#010203" << 7 << "https://alt.example/";
        QTest::newRow("picture from a local file")
            << json("{'duration':7,'image':'file:///usr/share/pixmaps/debian-logo.png'}") << false
            << false << true << 50 << "https://alt.example/"
            << "#010203" << 7 << "https://alt.example/";
        // A body over its limit, packed or not, is not read: the banner stays, and the next
        // fetch follows after the time the rules give.
        QTest::newRow("description over its limit")
            << json("{'duration':30,'image':'@/bild/neu.png','bannerHeight':60,'x':'")
                + QByteArray(100 * 1024, 'x') + json("'}")
            << false << false << true << 50 << "https://alt.example/"
            << "#010203" << 5 << "https://alt.example/";
        QTest::newRow("picture over its limit")
            << json("{'duration':7,'image':'@/bild/riesig.png','bannerHeight':90}") << false
            << false << true << 50 << "https://alt.example/"
            << "#010203" << 7 << "https://alt.example/";
        QTest::newRow("picture of more pixels than the budget")
            << json("{'duration':7,'image':'@/bild/pixel.png','bannerHeight':90}") << false << false
            << true << 50 << "https://alt.example/"
            << "#010203" << 7 << "https://alt.example/";
        QTest::newRow("picture packed a thousandfold")
            << json("{'duration':7,'image':'@/bild/bombe.png','bannerHeight':90}") << false << false
            << true << 50 << "https://alt.example/"
            << "#010203" << 7 << "https://alt.example/";
        QTest::newRow("hanging server") << json("{'image':'@/bild/neu.png'}") << true << false
                                        << true << 50 << "https://alt.example/"
                                        << "#010203" << 5 << "https://alt.example/";
    }
    void banner()
    {
        QFETCH(QByteArray, description);
        QFETCH(bool, hangs);
        QFETCH(bool, changed);
        QFETCH(bool, visible);
        QFETCH(int, height);
        QFETCH(QString, link);
        QFETCH(QString, colour);
        QFETCH(int, minutes);
        QFETCH(QString, opens);
        const QByteArray base = address(QString()).toUtf8();

        runBanner(FakeReply::ok(json("{'image':'@/bild/alt.png','bannerHeight':50, "
                                     "'link':'https://alt.example/','bg_r':1,'bg_g':2,'bg_b':3}")
                                    .replace('@', base)));
        QCOMPARE(shownBanner().picture, QSize(10, 10));

        const int timeout = Statics::httpTimeout();
        Statics::setHttpTimeout(300);
        FakeReply reply = FakeReply::ok(description.replace('@', base));
        runBanner(hangs ? reply.neverInTime() : reply);
        Statics::setHttpTimeout(timeout);

        const Banner shown = shownBanner();
        QCOMPARE(shown.visible, visible);
        QCOMPARE(shown.height, height);
        QCOMPARE(shown.link, link);
        QCOMPARE(shown.colour, colour);
        QCOMPARE(shown.picture, changed ? QSize(20, 5) : QSize(10, 10));
        QCOMPARE(bannerTimer()->interval(), minutes * 60000);

        UrlCapture urls;
        if (visible) {
            QTest::mouseClick(bannerLabel(), Qt::LeftButton);
            QCOMPARE(urls.urls(), opens.isEmpty() ? QList<QUrl>() : QList<QUrl> { QUrl(opens) });
        }
    }

    // The picture is decoded off the window thread: while its decode is held the window goes
    // on and arms the next fetch; past the decode time-out the picture is given up and the
    // banner stays as it was, also when the decode ends after that.
    void pictureHeldPastItsTime()
    {
        const QByteArray base = address(QString()).toUtf8();
        runBanner(
            FakeReply::ok(json("{'image':'@/bild/alt.png','bannerHeight':50}").replace('@', base)));
        QCOMPARE(shownBanner().picture, QSize(10, 10));

        TestSupport::HeldDecodes held(300);
        TestSupport::MessageCapture capture({ QStringLiteral("app.net") });
        m_server->setReply(
            kBannerPath,
            FakeReply::ok(json("{'duration':9,'image':'@/bild/neu.png','bannerHeight':60}")
                              .replace('@', base)));
        bannerTimer()->stop();
        window()->setupBanner();
        QTRY_VERIFY(held.waiting() > 0);
        QTRY_VERIFY(bannerTimer()->isActive());
        QCOMPARE(bannerTimer()->interval(), 9 * 60000);
        QTRY_COMPARE(capture.count(QStringLiteral("dauerte länger als 1 s")), 1);

        held.letGo();
        QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(shownBanner().picture, QSize(10, 10));
        QCOMPARE(shownBanner().height, 50);
    }

    // A description and a picture that unpack to 48 MB each: refused with the memory flat,
    // and the description asked for once, the next time after five minutes.
    void packedBombsTakeNoMemory()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("The sanitizer's allocator keeps memory of its own around every block");
#endif
        const QByteArray base = address(QString()).toUtf8();
        TestSupport::PeakMemory memory;
        if (!memory.start())
            QSKIP("The peak of the resident memory can't be reset here");
        m_server->clearRequests();
        runBanner(bomb());
        runBanner(
            FakeReply::ok(json("{'duration':7,'image':'@/bild/bombe.png'}").replace('@', base)));
        QVERIFY2(memory.growth() < 16 * 1024 * 1024,
                 qPrintable(QStringLiteral("%1 MB").arg(memory.growth() >> 20)));
        QCOMPARE(bannerTimer()->interval(), 7 * 60000);
        QCOMPARE(m_server->requestCount(), 3);
    }

    void links_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("configured");
        QTest::addColumn<QString>("opens"); // "@" stands for the server; empty: not reachable

        QTest::newRow("web site") << "action_1_Webseite_besuchen" << true << "@/";
        QTest::newRow("help") << "actionHilfe" << true << "@/support";
        QTest::newRow("project page") << "actionProjektseite_ffnen" << true << "@";
        QTest::newRow("data folder") << "actionDatenverzeichnis_ffnen" << true << "data";
        QTest::newRow("web site, no address") << "action_1_Webseite_besuchen" << false << "";
        QTest::newRow("help, no address") << "actionHilfe" << false << "";
        QTest::newRow("project page, no address") << "actionProjektseite_ffnen" << false << "";
        QTest::newRow("data folder, no address")
            << "actionDatenverzeichnis_ffnen" << false << "data";
    }
    void links()
    {
        QFETCH(QString, action);
        QFETCH(bool, configured);
        QFETCH(QString, opens);
        const QByteArray server = qgetenv("ZERIRE_SERVER_URL");
        const QByteArray project = qgetenv("ZERIRE_PROJECT_URL");
        if (!configured) {
            qputenv("ZERIRE_SERVER_URL", "");
            qputenv("ZERIRE_PROJECT_URL", " ");
        }
        DialogAnswers answers;
        UrlCapture urls;
        window()->findChild<QAction *>(action)->trigger();
        qputenv("ZERIRE_SERVER_URL", server);
        qputenv("ZERIRE_PROJECT_URL", project);

        QUrl expected;
        if (opens == QLatin1String("data"))
            expected = QUrl::fromLocalFile(m_data->db()->getCurrentDataDir());
        else if (!opens.isEmpty())
            expected = QUrl(opens.replace(QLatin1Char('@'), address(QString())));
        QCOMPARE(urls.urls(), expected.isEmpty() ? QList<QUrl>() : QList<QUrl> { expected });
        QCOMPARE(answers.messages().size(), expected.isEmpty() ? 1 : 0);
        if (expected.isEmpty())
            QVERIFY(answers.lastMessageText().contains(QLatin1String("nicht erreichbar")));
    }

    void about()
    {
        QStringList texts;
        QStringList links;
        bool fixed = false;
        bool windowModal = false;
        QTimer::singleShot(0, this, [&]() {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            windowModal = dialog->windowModality() == Qt::WindowModal;
            fixed = dialog->minimumSize() == dialog->maximumSize();
            texts << dialog->windowTitle();
            for (const char *name :
                 { "AppNameVersionLabel", "QTVersionLabel", "WebLabel", "label_4", "label_3" }) {
                auto *label = dialog->findChild<QLabel *>(QLatin1String(name));
                texts << label->text().remove(QRegularExpression(QStringLiteral("<[^>]*>")));
                const QRegularExpressionMatch href
                    = QRegularExpression(QStringLiteral("href=\"([^\"]*)\"")).match(label->text());
                if (href.hasMatch())
                    links << href.captured(1);
            }
            dialog->accept();
        });
        window()->findChild<QAction *>("action_ber_1")->trigger();

        QCOMPARE(
            texts,
            QStringList({ "Über Zerire3", "Zerire 3.1.8",
                          // The Qt the program runs on, not a version written into it.
                          QStringLiteral("Basierend auf Qt %1").arg(QLatin1String(qVersion())),
                          "Zerire3 Webseite öffnen", "Datenschutzbestimmungen", "Onlinehilfe" }));
        QCOMPARE(links, QStringList({ address("/"), address("/dsgvo"), address("/support") }));
        QVERIFY(fixed);
        QVERIFY(windowModal);
    }
};

APP_TEST_MAIN(TestHelp)
#include "test_help.moc"
