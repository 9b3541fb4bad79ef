#include "mainwindow/mainwindow.h"

#include "core/blockingrequest.h"
#include "core/config.h"
#include "core/database.h"
#include "core/desktopopen.h"
#include "core/imagelimits.h"
#include "core/logging.h"
#include "core/privatefile.h"
#include "core/statics.h"
#include "mainwindow/about.h"
#include "ui_mainwindow.h"

#include <QBuffer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QPixmap>
#include <QTimer>
#include <QUrl>

namespace {

const QString kBannerPath = QStringLiteral("/zaruvovezira/banner.php");
constexpr int kDefaultBannerMinutes = 5;
// The description is a few lines of JSON and the picture a small strip: a larger body,
// packed or unpacked, is not read.
constexpr qint64 kMaxDescriptionBytes = 64 * 1024;
constexpr qint64 kMaxPictureBytes = 2 * 1024 * 1024;
// The banner's picture is handed back no larger than the window shows it: as wide as the
// window (at least this) and as high as its description says (else at most this).
constexpr int kBannerWidthAtLeast = 1200;
constexpr int kBannerHeightAtMost = 400;

bool isWebAddress(const QUrl &url)
{
    return url.isValid() && !url.host().isEmpty()
        && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

// A GET through the program's request path, with its time-out and a limit on the body; the
// maker's server and what it names only over https or on this machine.
PendingRequest *startGet(QNetworkAccessManager *network, const QUrl &url, qint64 maxBytes,
                         QObject *parent)
{
    BlockingRequest::Request request;
    request.url = url;
    request.headers = { { QByteArrayLiteral("User-Agent"), BlockingRequest::browserUserAgent() } };
    request.timeoutMs = Statics::httpTimeout();
    request.followRedirects = true;
    request.maxReplyBytes = maxBytes;
    request.tlsOrLoopbackOnly = true;
    request.manager = network;
    return new PendingRequest(request, parent);
}

QString failure(const BlockingRequest::Result &result)
{
    return result.errorString.isEmpty() ? QStringLiteral("HTTP status %1").arg(result.httpStatus)
                                        : result.errorString;
}

} // namespace

void MainWindow::setupBanner()
{
    if (bannerRequest)
        return; // a fetch is under way; it arms the next one
    if (!bannerNetwork)
        bannerNetwork = new QNetworkAccessManager(this);

    const QString address = Config::serverAddress(kBannerPath);
    if (address.isEmpty()) {
        armBanner(kDefaultBannerMinutes);
        return;
    }
    PendingRequest *request = startGet(bannerNetwork, QUrl(address), kMaxDescriptionBytes, this);
    bannerRequest = request;
    connect(request, &PendingRequest::finished, this, [this, request]() {
        request->deleteLater();
        const BlockingRequest::Result &result = request->result();
        if (!result.ok())
            qCInfo(lcNet).noquote() << "Banner not fetched:" << failure(result);
        applyBannerDescription(result.ok() ? result.body : QByteArray());
    });
    request->start();
}

void MainWindow::applyBannerDescription(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject()) {
        armBanner(kDefaultBannerMinutes);
        return;
    }
    const QJsonObject description = document.object();
    const int duration = description.value(QLatin1String("duration")).toInt();
    const int minutes = duration > 0 ? duration : kDefaultBannerMinutes;

    const QUrl image(description.value(QLatin1String("image")).toString(), QUrl::TolerantMode);
    if (image.isEmpty()) {
        ui->BannerWidget->hide();
        armBanner(minutes);
        return;
    }
    // Only pictures from the web (and there over https, or on this machine); anything else
    // counts as a picture that doesn't load.
    PendingRequest *request = startGet(bannerNetwork, image, kMaxPictureBytes, this);
    bannerRequest = request;
    connect(request, &PendingRequest::finished, this, [this, request, description, minutes]() {
        request->deleteLater();
        const BlockingRequest::Result &result = request->result();
        if (result.ok())
            applyBannerPicture(description, result.body);
        else
            qCInfo(lcNet).noquote() << "Banner picture not fetched:" << failure(result);
        armBanner(minutes);
    });
    request->start();
}

void MainWindow::applyBannerPicture(const QJsonObject &description, const QByteArray &picture)
{
    // Checked and decoded by the picture decoder, at most as large as the banner is shown; the
    // window goes on meanwhile. A picture that doesn't decode (or not within the decode
    // time-out) leaves the banner as it was.
    const int height = description.value(QLatin1String("bannerHeight")).toInt();
    const QSize shown(qMax(width(), kBannerWidthAtLeast),
                      height > 0 ? height : kBannerHeightAtMost);
    ImageLimits::decodeLater(
        this, ImageLimits::pictureBytes(picture, shown),
        [this, description, picture](const ImageLimits::Decoded &decoded) {
            if (!decoded.refusal.isEmpty())
                qCInfo(lcNet).noquote() << "Banner picture refused:" << decoded.refusal;
            else if (decoded.image.isNull())
                qCInfo(lcNet).noquote() << "Banner picture unreadable:" << decoded.error;
            else
                showBannerPicture(description, picture, decoded.image);
        });
}

void MainWindow::showBannerPicture(const QJsonObject &description, const QByteArray &picture,
                                   const QImage &image)
{
    QFile file;
    QString error;
    if (!PrivateFile::open(file, db->getImageTempPath() + QStringLiteral("banner.jpg"),
                           QIODevice::WriteOnly | QIODevice::Truncate, &error)
        || file.write(picture) != picture.size())
        qCWarning(lcApp).noquote()
            << "Banner picture not stored:" << (error.isEmpty() ? file.errorString() : error);

    if (description.contains(QLatin1String("bg_r")) && description.contains(QLatin1String("bg_g"))
        && description.contains(QLatin1String("bg_b"))) {
        QPalette palette = ui->BannerWidget->palette();
        palette.setBrush(
            QPalette::All, QPalette::Window,
            QBrush(QColor(qBound(0, description.value(QLatin1String("bg_r")).toInt(), 255),
                          qBound(0, description.value(QLatin1String("bg_g")).toInt(), 255),
                          qBound(0, description.value(QLatin1String("bg_b")).toInt(), 255))));
        ui->BannerWidget->setPalette(palette);
        ui->BannerWidget->setAutoFillBackground(true);
    }
    const int height = qMax(0, description.value(QLatin1String("bannerHeight")).toInt());
    ui->BannerWidget->setMinimumHeight(height);
    ui->BannerWidget->setMaximumHeight(height);
    ui->BannerLabel->setPixmap(QPixmap::fromImage(image));
    // The label opens only web addresses.
    ui->BannerLabel->setProperty("link", description.value(QLatin1String("link")).toString());
    ui->BannerWidget->show();
}

void MainWindow::armBanner(int minutes)
{
    if (!bannerTimer) {
        bannerTimer = new QTimer(this);
        bannerTimer->setObjectName(QStringLiteral("bannerTimer"));
        bannerTimer->setSingleShot(true);
        connect(bannerTimer, &QTimer::timeout, this, &MainWindow::setupBanner);
    }
    bannerTimer->start(minutes * 60000);
}

void MainWindow::openWebPage(const QString &address)
{
    const QUrl url(address);
    if (address.isEmpty() || !isWebAddress(url)) {
        Statics::showMessage(this,
                             tr("Die Seite ist nicht erreichbar: Es ist keine Adresse für sie "
                                "eingerichtet."),
                             1);
        return;
    }
    DesktopOpen::webPage(this, url);
}

void MainWindow::on_actionDatenverzeichnis_ffnen_triggered()
{
    DesktopOpen::folder(this, db->getCurrentDataDir());
}

void MainWindow::on_actionProjektseite_ffnen_triggered()
{
    openWebPage(Config::value(Config::Key::ProjectUrl));
}

void MainWindow::on_action_1_Webseite_besuchen_triggered()
{
    openWebPage(Config::serverAddress(QStringLiteral("/")));
}

void MainWindow::on_actionHilfe_triggered()
{
    openWebPage(Config::serverAddress(QStringLiteral("/support")));
}

void MainWindow::on_action_ber_1_triggered()
{
    auto *about = new About(this);
    about->setWindowModality(Qt::WindowModal);
    about->exec();
    about->deleteLater();
}
