#include "editor/companions/picturewidget.h"

#include <QDesktopServices>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QTransform>
#include <QUrl>

#include "core/database.h"
#include "core/dialogs.h"
#include "core/imagelimits.h"
#include "core/logging.h"
#include "core/statics.h"
#include "ui_picturewidget.h"

namespace {

const QString kInternal = QStringLiteral("internal");
const QString kNoPhoto = QStringLiteral(":/buttons/images/no_photo.png");

bool acceptable(const QMimeData *mime)
{
    return mime->hasImage() || mime->hasFormat(QStringLiteral("text/uri-list"))
        || mime->hasFormat(kInternal);
}

} // namespace

PictureWidget::PictureWidget(QWidget *parent, Database *db)
    : QWidget(parent)
    , m_db(db)
    , m_ui(new Ui::PictureWidget)
    , m_dialogParent(parent)
    , m_checkTimer(new QTimer(this))
{
    m_ui->setupUi(this);
    m_checkTimer->setSingleShot(true);
    m_checkTimer->setInterval(3000);
    connect(m_checkTimer, &QTimer::timeout, this, &PictureWidget::checkImageModified);
    m_ui->label->setStyleSheet(QStringLiteral("QLabel { background-color : white; color : blue; }"));
    m_ui->label->setAcceptDrops(false);
    m_ui->rotateButton->setEnabled(false);
    {
        const QPushButton probe(this);
        m_ui->rotateButton->setStyleSheet(
            QStringLiteral("color: ") + probe.palette().color(QPalette::ButtonText).name());
    }
    m_ui->showExtern->setEnabled(false);
    m_ui->deleteButton->setEnabled(true);
    setAcceptDrops(true);
    m_ui->rotateButton->hide();
}

PictureWidget::~PictureWidget() = default;

void PictureWidget::setCheckInterval(int milliseconds)
{
    m_checkTimer->setInterval(milliseconds);
}

void PictureWidget::markModified()
{
    setAccessibleDescription(QStringLiteral("modified"));
}

void PictureWidget::setImage(QString path)
{
    m_fileTime = QFileInfo(path).lastModified();
    imagePath = path;
    m_thumb = QImage();
    m_unturned = QImage();
    m_ui->rotateButton->setEnabled(false);
    m_ui->deleteButton->setEnabled(true);
    m_ui->showExtern->setEnabled(true);
    markModified();
    m_checkTimer->start();

    // Checked and decoded by the picture decoder, at the slot's size and at the thumbnail's
    // (the save writes that one); the slot shows the picture when it is there. The newest
    // request wins: an older one that ends later is dropped.
    const int generation = ++m_generation;
    m_decoding = true;
    const int side = qMax(m_ui->label->width(), m_ui->label->height());
    const QSize thumb = Statics::thumbBox();
    ImageLimits::Picture picture = ImageLimits::pictureFile(
        path, QSize(qMax(side, thumb.width()), qMax(side, thumb.height())));
    picture.boxes << ImageLimits::Picture::Box { thumb, true };
    picture.followLink = chosenBySeller();
    ImageLimits::decodeLater(this, picture, [this, generation, path](const ImageLimits::Decoded &decoded) {
        if (generation != m_generation)
            return;
        m_decoding = false;
        if (!decoded.refusal.isEmpty()) {
            qCInfo(lcApp).noquote() << "Bild abgelehnt:" << path << decoded.refusal;
            clearImage();
            m_ui->label->setText(decoded.refusal);
            m_ui->label->setToolTip(decoded.refusal);
            m_ui->label->show();
            emit settled();
            return;
        }
        // Kept at the size the slot shows it, whichever way it is turned.
        const int shown = qMax(m_ui->label->width(), m_ui->label->height());
        ImageLimits::Decoded slot = decoded;
        if (slot.image.width() > shown || slot.image.height() > shown)
            slot.image = slot.image.scaled(shown, shown, Qt::KeepAspectRatio,
                                           Qt::SmoothTransformation);
        showPicture(path, slot, decoded.angle);
        m_thumb = decoded.images.value(1);
        m_thumbFormat = decoded.format;
        emit settled();
    }, ImageLimits::Order::First);
}

void PictureWidget::showPicture(const QString &path, const ImageLimits::Decoded &decoded, int angle)
{
    m_ui->label->setToolTip(QString());
    if (decoded.image.isNull()) {
        qCInfo(lcApp) << "Bildfehler" << decoded.error << path;
        m_ui->label->setPixmap(QPixmap());
    } else {
        if (angle != 0)
            rotated = true;
        m_unturned = angle == 0 ? decoded.image : QImage();
        const int total = rotation > 0 ? (angle + rotation) % 360 : angle;
        QImage image = decoded.image;
        if (total != 0)
            image = image.transformed(QTransform().rotate(total), Qt::FastTransformation);
        QPixmap picture = QPixmap::fromImage(image);
        const QSize box = m_ui->label->frameRect().size();
        if (picture.width() > m_ui->label->width() || picture.height() > m_ui->label->height())
            picture = picture.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        m_ui->label->setPixmap(picture);
    }
    m_ui->label->show();
    m_ui->rotateButton->setEnabled(angle == 0);
}

bool PictureWidget::decoding() const
{
    return m_decoding && !imagePath.isEmpty();
}

bool PictureWidget::chosenBySeller() const
{
    // A folder that can't be made gives no path of its own: then no link is followed.
    const QString folder = m_db->getCurrentAdImageDir();
    return !folder.isEmpty() && !imagePath.isEmpty()
        && !QDir::cleanPath(imagePath).startsWith(QDir::cleanPath(folder) + QLatin1Char('/'));
}

QImage PictureWidget::thumbnail(QByteArray *format) const
{
    if (format)
        *format = m_thumbFormat;
    return m_thumb;
}

void PictureWidget::showNoPhoto()
{
    rotation = 0;
    const QSize box(m_ui->label->width() - 8, m_ui->label->height());
    m_ui->label->setPixmap(
        QPixmap(kNoPhoto).scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_ui->label->show();
    m_ui->rotateButton->setEnabled(false);
    m_ui->showExtern->setEnabled(false);
    markModified();
}

void PictureWidget::clearImage()
{
    ++m_generation;
    const bool wasDecoding = m_decoding;
    m_decoding = false;
    m_thumb = QImage();
    m_unturned = QImage();
    showNoPhoto();
    imagePath.clear();
    m_ui->deleteButton->setEnabled(false);
    m_checkTimer->stop();
    if (wasDecoding)
        emit settled();
}

void PictureWidget::setImageNotFound()
{
    ++m_generation;
    const bool wasDecoding = m_decoding;
    m_decoding = false;
    m_thumb = QImage();
    m_unturned = QImage();
    showNoPhoto();
    m_ui->deleteButton->setEnabled(true);
    m_checkTimer->stop();
    if (wasDecoding)
        emit settled();
}

void PictureWidget::savePicture() {}

void PictureWidget::checkImageModified()
{
    if (imagePath.isEmpty() || !QFileInfo::exists(imagePath))
        return;
    const QDateTime modified = QFileInfo(imagePath).lastModified();
    if (modified == m_fileTime) {
        m_checkTimer->start();
        return;
    }
    m_fileTime = modified;
    setImage(imagePath);
}

void PictureWidget::on_openButton_clicked()
{
    // The folder the dialog opens in; when it can't be read, the dialog's own start is as good.
    QString folder
        = m_db->getOption(QStringLiteral("lastSingleDir"), QString()).orIfFailed(QString());
    if (!folder.isEmpty() && !QDir(folder).exists())
        folder.clear();
    const QString fileName = Dialogs::openFileName(
        m_dialogParent, tr("Wähle ein Bild aus"), folder,
        tr("Alle Bildformate")
            + QStringLiteral(" (*.jpg *.jpeg *.png *.heic *.bmp);;JPEG (*.jpg *.jpeg);;PNG "
                             "(*.png);;HEIF (*.heic);;Bitmaps (*.bmp)"));
    handleFileSaveAsBeforeCloseSelected(fileName);
}

void PictureWidget::handleFileSaveAsBeforeCloseSelected(const QString &fileName)
{
    if (fileName.isEmpty() || !QFileInfo::exists(fileName))
        return;
    rotation = 0;
    setImage(fileName);
    // Only where the next file dialog opens: a folder not remembered costs the seller a click.
    if (!m_db->setOption(QStringLiteral("lastSingleDir"), QFileInfo(fileName).absolutePath()))
        qCInfo(lcApp).noquote() << "The picture folder last chosen was not stored:"
                                << m_db->lastErrorText;
}

void PictureWidget::on_rotateButton_clicked()
{
    if (imagePath.isEmpty())
        return;
    rotation += 90;
    rotated = true;
    // The picture as decoded, turned: the file is not read again.
    if (!m_unturned.isNull())
        m_ui->label->setPixmap(
            QPixmap::fromImage(
                m_unturned.transformed(QTransform().rotate(rotation % 360), Qt::FastTransformation))
                .scaled(m_ui->label->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    markModified();
}

void PictureWidget::on_deleteButton_clicked()
{
    clearImage();
    if (!pictureSlots)
        return;
    // One pass closes the one gap a deletion leaves.
    for (int i = 0; i + 1 < pictureSlots->size(); ++i) {
        PictureWidget *slot = pictureSlots->at(i);
        PictureWidget *next = pictureSlots->at(i + 1);
        if (slot->imagePath.isEmpty() && !next->imagePath.isEmpty()) {
            slot->rotation = next->rotation;
            slot->setImage(next->imagePath);
            next->clearImage();
        }
    }
}

void PictureWidget::on_showExtern_clicked()
{
    if (!imagePath.isEmpty() && QFileInfo::exists(imagePath))
        QDesktopServices::openUrl(QUrl::fromLocalFile(imagePath));
}

void PictureWidget::mousePressEvent(QMouseEvent *event)
{
    if (imagePath.isEmpty() || !childAt(event->pos()))
        return;
    auto *mime = new QMimeData;
    mime->setData(kInternal, imagePath.toUtf8());
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(Qt::MoveAction);
}

void PictureWidget::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void PictureWidget::dragMoveEvent(QDragMoveEvent *event)
{
    if (!answeredOwnOrUnusable(event))
        event->acceptProposedAction();
}

void PictureWidget::dropEvent(QDropEvent *event)
{
    if (answeredOwnOrUnusable(event))
        return;
    getImagesFromMimeData(event->mimeData());
    event->acceptProposedAction();
}

bool PictureWidget::answeredOwnOrUnusable(QDropEvent *event) const
{
    if (!acceptable(event->mimeData())) {
        event->ignore();
        return true;
    }
    if (event->source() == this) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
        return true;
    }
    return false;
}

QString PictureWidget::localFile(const QUrl &url) const
{
    if (url.isLocalFile())
        return url.toLocalFile();
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return QString();
    QString name = QFileInfo(url.path()).fileName();
    if (name.isEmpty())
        name = QStringLiteral("bild.jpg");
    const QString target = m_db->getImageTempPath() + Statics::hashString(url.toString()).left(8)
        + QLatin1Char('_') + name;
    return Statics::DownloadURL(url.toString(), target, true) ? target : QString();
}

void PictureWidget::getImagesFromMimeData(const QMimeData *mime)
{
    if (mime->hasFormat(kInternal)) {
        QByteArray data = mime->data(kInternal);
        const int zero = data.indexOf('\0');
        if (zero >= 0)
            data.truncate(zero);
        const QString path = QString::fromUtf8(data);
        if (path == imagePath || !pictureSlots)
            return;
        PictureWidget *source = nullptr;
        for (PictureWidget *slot : qAsConst(*pictureSlots)) {
            if (slot->imagePath == path) {
                source = slot;
                break;
            }
        }
        if (!source)
            return;
        const int sourceRotation = source->rotation;
        if (imagePath.isEmpty()) {
            source->clearImage();
        } else {
            source->rotation = rotation;
            source->setImage(imagePath);
        }
        rotation = sourceRotation;
        setImage(path);
        return;
    }
    if (mime->hasImage()) {
        const QImage image = qvariant_cast<QImage>(mime->imageData());
        m_ui->label->setPixmap(QPixmap::fromImage(image).scaled(
            m_ui->label->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        markModified();
        return;
    }
    const QList<QUrl> urls = mime->urls();
    if (urls.size() == 1) {
        const QString file = localFile(urls.first());
        if (!file.isEmpty())
            setImage(file);
        return;
    }
    if (!pictureSlots)
        return;
    for (const QUrl &url : urls) {
        PictureWidget *empty = nullptr;
        for (PictureWidget *slot : qAsConst(*pictureSlots)) {
            if (slot->imagePath.isEmpty()) {
                empty = slot;
                break;
            }
        }
        if (!empty)
            return;
        const QString file = localFile(url);
        if (!file.isEmpty())
            empty->setImage(file);
    }
}
