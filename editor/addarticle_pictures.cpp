// The twelve picture slots, the variation pictures, and saving both with their rows.
#include "editor/addarticle.h"

#include "core/database.h"
#include "core/dialogs.h"
#include "core/logging.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "core/untrustedfile.h"
#include "editor/companions/picturewidget.h"
#include "views/flowlayout.h"

#include "ui_addarticle.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>
#include <QVector>
#include <QSqlQuery>

#include <algorithm>

namespace {

constexpr int kSlots = 12;
constexpr int kIdRole = Qt::UserRole + 1001;
constexpr int kNewRole = Qt::UserRole + 1000;

const char *const kPictureFilter =
    " (*.jpg *.jpeg *.png *.heic *.bmp);;JPEG (*.jpg *.jpeg);;PNG (*.png);;HEIF (*.heic);;"
    "Bitmaps (*.bmp)";

// Picture rows of listings read from the marketplace name the picture by its web address.
bool isWebAddress(const QString &image)
{
    return image.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || image.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

// Copies `file` into `folder` under a name of its own beginning with `prefix`; the name, empty
// when it could not be copied. Touches no member of the editor: it runs beside the window.
QString copyInto(const QString &file, const QString &folder, const QString &prefix)
{
    const QFileInfo source(file);
    QString name = prefix + source.fileName();
    // Two pictures of one name saved within the same second must not replace each other.
    for (int n = 1; QFileInfo::exists(folder + name) || QFileInfo(folder + name).isSymLink(); ++n)
        name = prefix + QString::number(n) + QLatin1Char('_') + source.fileName();
    // Copied from the one descriptor opened: a plain file, never a FIFO the copy would wait
    // on, into a new file of the program's own. Only files the seller chose himself are copied
    // (a slot's or a variation's file from outside the picture folder): a link among them is
    // followed, as his own Pictures folder may well be links.
    QString error;
    if (!UntrustedFile::copy(file, UntrustedFile::Links::Followed, folder + name,
                             UntrustedFile::kMaxPictureBytes, &error)) {
        qCWarning(lcApp).noquote() << "Picture" << file << "not copied:" << error;
        return QString();
    }
    return name;
}

// The key of a variation picture's copy: its value and its file.
QString variantCopyKey(const QString &value, const QString &file)
{
    return QStringLiteral("variant:") + value + QLatin1Char('\n') + file;
}

// One copy the save waits for.
struct PictureCopy
{
    QString key;
    QString source;
    QString prefix;
};

QString existingFolder(Database *db, const QString &option)
{
    // Only where the file dialog opens: when it can't be read, the dialog's own start will do.
    const QString folder = db->getOption(option, QString()).orIfFailed(QString());
    return QFileInfo(folder).isDir() ? folder : QString();
}

} // namespace

void AddArticle::generateImages()
{
    // A template being loaded builds the slots afresh.
    qDeleteAll(m_pictureSlots);
    m_pictureSlots.clear();
    m_extraPictures.clear();
    delete m_ui->scrollAreaWidgetContents->layout();

    // Pictures that can't be read are not "no pictures": the slots stay empty, the seller is
    // told, and the save leaves the stored rows as they are.
    const Read<SqlRows> read = m_db->select(
        QStringLiteral("SELECT * FROM articles_images WHERE article_id=%1 AND (variant_name IS "
                       "NULL OR variant_name = '') ORDER BY sort ASC, id ASC")
            .arg(m_articleId));
    bool variantsRead = true;
    m_openedVariantPictures = storedVariantPictures(m_articleId, &variantsRead);
    m_picturesUnread = !read.ok() || !variantsRead;
    SqlRows rows;
    if (read.ok())
        rows = *read;
    const QString folder = m_db->getCurrentAdImageDir();
    auto *layout = new FlowLayout(m_ui->scrollAreaWidgetContents, 8, 14, 17);
    for (int i = 0; i < kSlots; ++i) {
        auto *slot = new PictureWidget(this, m_db);
        slot->setMinimumSize(170, 210);
        slot->setMaximumSize(170, 210);
        slot->setGeometry(0, 0, 170, 210);
        const QString image = i < rows.size() ? rows.at(i).value(QStringLiteral("image")).toString()
                                              : QString();
        // A row names a file of the picture folder; one of another workstation or a restored
        // backup may name any other ("../…"): that one is not shown, and not saved again.
        if (!image.isEmpty() && !isWebAddress(image) && !UntrustedFile::insideFolder(folder, image))
            qCWarning(lcApp).noquote() << "Picture row" << image << "leads out of the picture folder";
        else if (!image.isEmpty())
            slot->imagePath = isWebAddress(image) ? image : folder + image;
        connect(slot, &PictureWidget::settled, this, &AddArticle::pictureWaitStep);
        slot->pictureSlots = &m_pictureSlots;
        m_pictureSlots << slot;
        layout->addWidget(slot);
    }
    for (int i = kSlots; i < rows.size(); ++i)
        m_extraPictures << rows.at(i).value(QStringLiteral("image")).toString();
    m_openedPictures.clear();
    for (const auto &row : rows)
        m_openedPictures << row.value(QStringLiteral("image")).toString();
    m_saveDecodes.clear();
    m_ui->tabWidget->setTabEnabled(m_ui->tabWidget->indexOf(m_ui->TabPics), !m_picturesUnread);
    if (m_picturesUnread)
        Statics::showMessage(this,
                             tr("Die Bilder des Artikels konnten nicht gelesen werden: %1\n"
                                "Sie bleiben gespeichert, wie sie sind; Änderungen an den "
                                "Bildern werden nicht gespeichert.")
                                 .arg(read.ok() ? m_db->lastErrorText : read.error()),
                             2);
}

void AddArticle::on_loadFilesButton_clicked()
{
    const QStringList files = Dialogs::openFileNames(
        this, tr("Bilder auswählen"), existingFolder(m_db, QStringLiteral("lastMultiDir")),
        tr("Alle Bildformate") + QLatin1String(kPictureFilter));
    handleFileSaveAsBeforeCloseSelected(files);
}

void AddArticle::handleFileSaveAsBeforeCloseSelected(const QStringList &files)
{
    for (const QString &file : files) {
        // Only where the next file dialog opens: a folder not remembered costs a click.
        if (!m_db->setOption(QStringLiteral("lastMultiDir"), QFileInfo(file).absolutePath()))
            qCInfo(lcApp).noquote()
                << "The picture folder last chosen was not stored:" << m_db->lastErrorText;
        for (PictureWidget *slot : qAsConst(m_pictureSlots)) {
            if (slot->imagePath.isEmpty()) {
                slot->setImage(file);
                slot->setAccessibleDescription(QStringLiteral("modified"));
                break;
            }
        }
    }
}

void AddArticle::on_removeFilesButton_clicked()
{
    // All of them: the ones beyond the slots too, which would otherwise move up and become
    // the listing's first pictures.
    m_extraPictures.clear();
    for (PictureWidget *slot : qAsConst(m_pictureSlots)) {
        slot->clearImage();
        slot->setAccessibleDescription(QStringLiteral("modified"));
    }
}

QString AddArticle::copyPicture(const QString &file, const QString &prefix)
{
    const QString name = copyInto(file, m_db->getCurrentAdImageDir(), prefix);
    noteCopy(name);
    return name;
}

AddArticle::PicturePlan AddArticle::preparePictures()
{
    const QString folder = m_db->getCurrentAdImageDir();
    const QString thumbs = m_db->getCurrentAdImageDirThumbs();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    PicturePlan plan;
    plan.unread = m_picturesUnread;
    for (PictureWidget *slot : qAsConst(m_pictureSlots)) {
        const QString path = slot->imagePath;
        if (isWebAddress(path)) {
            // Kept as it stands: the listing's picture on the marketplace.
            plan.images << path;
            plan.webPictures = true;
            continue;
        }
        // A picture refused by the decode the save made itself is not saved; one a slot refused
        // has left the slot.
        const auto own = m_saveDecodes.constFind(path);
        if (path.isEmpty() || !QFileInfo::exists(path)
            || (own != m_saveDecodes.cend() && !own->refusal.isEmpty()))
            continue;
        QString name = QFileInfo(path).fileName();
        if (QFileInfo(path).absolutePath() + QLatin1Char('/') != folder) {
            // Copied beside the window while the save waited (see copiesPending()).
            const auto copied = m_copies.constFind(path);
            if (copied != m_copies.cend()) {
                name = *copied;
                m_copies.erase(copied);
            } else {
                name = copyPicture(path, stamp + QLatin1Char('_'));
            }
            if (name.isEmpty()) {
                Statics::showMessage(this, tr("Konnte Bild %1 nicht kopieren").arg(path), 2);
                plan.copyFailed = true;
                continue;
            }
            // A save that is tried again does not copy it again.
            slot->imagePath = folder + name;
            if (own != m_saveDecodes.cend())
                m_saveDecodes.insert(slot->imagePath, *own);
        }
        plan.images << name;
        if (plan.thumb.isEmpty()) {
            // Made from the picture the slot decoded (or the save, for a slot that never did)
            // before the save went on: nothing is decoded here.
            QByteArray format;
            QImage thumb = slot->thumbnail(&format);
            if (thumb.isNull() && own != m_saveDecodes.cend()) {
                thumb = own->image;
                format = own->format;
            }
            if (!thumb.isNull())
                plan.thumb = Statics::WriteThumb(thumb, folder + name, format, thumbs);
        }
    }
    plan.images << m_extraPictures;

    // Rewritten only from a list that was built: otherwise the stored rows stand.
    plan.variantPictures = m_variantImagesBuilt && !m_picturesUnread;
    if (!plan.variantPictures)
        return plan;
    for (int i = 0; i < m_ui->VariantImageList->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = m_ui->VariantImageList->topLevelItem(i);
        QString image = item->text(1);
        if (image.isEmpty())
            continue;
        if (!item->data(0, kNewRole).isNull()) {
            if (!QFileInfo::exists(image))
                continue;
            const auto copied = m_copies.constFind(variantCopyKey(item->text(0), image));
            if (copied != m_copies.cend()) {
                image = *copied;
                m_copies.erase(copied);
            } else {
                const QString prefix = Statics::hashString(stamp + QLatin1Char('_')
                                                           + QString::number(m_articleId)
                                                           + QLatin1Char('_') + item->text(0))
                    + QLatin1Char('_');
                image = copyPicture(image, prefix);
            }
            if (image.isEmpty())
                continue;
            qCInfo(lcApp) << "Kopiert:" << folder + image;
            item->setText(1, image);
            item->setData(0, kNewRole, QVariant());
        }
        plan.variants.append({ item->text(0), image });
    }
    std::sort(plan.variants.begin(), plan.variants.end());
    return plan;
}

bool AddArticle::writePictures(int id, const PicturePlan &plan, bool pictures,
                               bool variantPictures)
{
    // After a failed copy, or when they could not be read, the stored rows stay as they were.
    if (pictures && !plan.keepStored()) {
        if (!m_db->executeSQL(QStringLiteral("DELETE FROM articles_images WHERE article_id=%1 AND "
                                             "(variant_name IS NULL OR variant_name = '')")
                                  .arg(id)))
            return false;
        for (int sort = 0; sort < plan.images.size(); ++sort)
            if (m_db->insertSqlClean({ { QStringLiteral("article_id"), id },
                                       { QStringLiteral("image"), plan.images.at(sort) },
                                       { QStringLiteral("sort"), sort } },
                                     QStringLiteral("articles_images"))
                < 1)
                return false;
        // Listings read from the marketplace keep their thumbnail until a picture of ours is
        // saved.
        if ((!plan.thumb.isEmpty() || !plan.webPictures)
            && !m_db->updateSqlClean({ { QStringLiteral("ImageThumb"), plan.thumb } },
                                     QStringLiteral("articles"),
                                     QStringLiteral("id=") + QString::number(id)))
            return false;
    }
    if (!variantPictures || !plan.variantPictures)
        return true;
    if (!m_db->executeSQL(
            QStringLiteral("DELETE FROM articles_images WHERE article_id=%1 AND (variant_name <> '')")
                .arg(id)))
        return false;
    for (const auto &variant : plan.variants)
        if (m_db->insertSqlClean({ { QStringLiteral("article_id"), id },
                                   { QStringLiteral("image"), variant.second },
                                   { QStringLiteral("variant_name"), variant.first } },
                                 QStringLiteral("articles_images"))
            < 1)
            return false;
    return true;
}

bool AddArticle::waitForPictures()
{
    if (m_pictureWait)
        return true;
    if (!picturesPending())
        return false;
    m_pictureWait = true;
    m_waitTemplateMode = m_templateMode;
    m_waitTemplateId = m_templateId;
    m_ui->buttonBox->setEnabled(false);
    connect(this, &QDialog::finished, this, &AddArticle::dropPictureWait, Qt::UniqueConnection);
    return true;
}

bool AddArticle::picturesPending()
{
    bool pending = false;
    for (PictureWidget *slot : qAsConst(m_pictureSlots)) {
        if (slot->decoding()) {
            // Its decode goes ahead of every other picture's.
            ImageLimits::hurry(slot);
            pending = true;
        }
    }
    if (pending)
        return true;
    // The thumbnail comes from the first picture that can be read.
    for (PictureWidget *slot : qAsConst(m_pictureSlots)) {
        const QString path = slot->imagePath;
        if (path.isEmpty() || isWebAddress(path) || !QFileInfo::exists(path))
            continue;
        if (!slot->thumbnail().isNull())
            return copiesPending();
        const auto own = m_saveDecodes.constFind(path);
        if (own != m_saveDecodes.cend()) {
            if (!own->image.isNull())
                return copiesPending();
            continue;
        }
        if (!m_saveDecoding.contains(path)) {
            m_saveDecoding.insert(path);
            ImageLimits::Picture picture
                = ImageLimits::pictureFile(path, Statics::thumbBox(), true);
            picture.followLink = slot->chosenBySeller();
            ImageLimits::decodeLater(
                this, picture,
                [this, path](const ImageLimits::Decoded &decoded) {
                    m_saveDecoding.remove(path);
                    if (!decoded.refusal.isEmpty())
                        qCInfo(lcApp).noquote() << "Bild abgelehnt:" << path << decoded.refusal;
                    m_saveDecodes.insert(path, decoded);
                    pictureWaitStep();
                },
                ImageLimits::Order::First);
        }
        return true;
    }
    return copiesPending();
}

bool AddArticle::copiesPending()
{
    if (m_copying)
        return true;
    const QString folder = m_db->getCurrentAdImageDir();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    QVector<PictureCopy> wanted;
    for (PictureWidget *slot : qAsConst(m_pictureSlots)) {
        const QString path = slot->imagePath;
        if (path.isEmpty() || isWebAddress(path) || m_copies.contains(path)
            || QFileInfo(path).absolutePath() + QLatin1Char('/') == folder
            || !QFileInfo::exists(path))
            continue;
        // One the save's own decode refused is not saved.
        const auto own = m_saveDecodes.constFind(path);
        if (own != m_saveDecodes.cend() && !own->refusal.isEmpty())
            continue;
        wanted.append({ path, path, stamp + QLatin1Char('_') });
    }
    if (m_variantImagesBuilt && !m_picturesUnread) {
        for (int i = 0; i < m_ui->VariantImageList->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = m_ui->VariantImageList->topLevelItem(i);
            const QString image = item->text(1);
            const QString key = variantCopyKey(item->text(0), image);
            if (image.isEmpty() || item->data(0, kNewRole).isNull() || m_copies.contains(key)
                || !QFileInfo::exists(image))
                continue;
            wanted.append({ key, image,
                            Statics::hashString(stamp + QLatin1Char('_')
                                                + QString::number(m_articleId) + QLatin1Char('_')
                                                + item->text(0))
                                + QLatin1Char('_') });
        }
    }
    if (wanted.isEmpty())
        return false;
    // One after the other on one thread, so that two copies of one name never meet; the
    // save goes on when all are made.
    m_copying = true;
    QPointer<AddArticle> editor(this);
    QThreadPool::globalInstance()->start([editor, wanted, folder] {
        QHash<QString, QString> made;
        for (const PictureCopy &copy : wanted)
            made.insert(copy.key, copyInto(copy.source, folder, copy.prefix));
        QMetaObject::invokeMethod(
            qApp,
            [editor, made, folder] {
                if (!editor) {
                    // The editor went meanwhile: no row will name these copies.
                    for (const QString &name : made)
                        if (!name.isEmpty())
                            QFile::remove(folder + name);
                    return;
                }
                editor->m_copying = false;
                for (auto it = made.cbegin(); it != made.cend(); ++it) {
                    editor->m_copies.insert(it.key(), it.value());
                    editor->noteCopy(it.value());
                }
                editor->pictureWaitStep();
            },
            Qt::QueuedConnection);
    });
    return true;
}

void AddArticle::pictureWaitStep()
{
    if (!m_pictureWait || picturesPending())
        return;
    m_pictureWait = false;
    m_ui->buttonBox->setEnabled(true);
    // The save goes on as it was asked for: as a template when it was one.
    const bool templateMode = m_templateMode;
    const int templateId = m_templateId;
    m_templateMode = m_waitTemplateMode;
    m_templateId = m_waitTemplateId;
    accept();
    m_templateMode = templateMode;
    m_templateId = templateId;
}

void AddArticle::dropPictureWait()
{
    if (!m_pictureWait)
        return;
    m_pictureWait = false;
    m_ui->buttonBox->setEnabled(true);
}

QStringList AddArticle::storedPictures(int id, bool *ok)
{
    QSqlQuery query;
    const bool read = m_db->selectQuery(
        QStringLiteral("SELECT image FROM articles_images WHERE article_id=%1 AND (variant_name IS "
                       "NULL OR variant_name = '') ORDER BY sort ASC, id ASC")
            .arg(id),
        query);
    QStringList images;
    while (read && query.next())
        images << query.value(0).toString();
    // A row that could not be stepped to leaves the list short: that is no list read.
    const bool complete = read && m_db->rowsComplete(query);
    if (ok)
        *ok = complete;
    return images;
}

QList<QPair<QString, QString>> AddArticle::storedVariantPictures(int id, bool *ok)
{
    QSqlQuery query;
    const bool read = m_db->selectQuery(
        QStringLiteral("SELECT variant_name, image FROM articles_images WHERE article_id=%1 AND "
                       "variant_name <> ''")
            .arg(id),
        query);
    QList<QPair<QString, QString>> pictures;
    while (read && query.next())
        pictures.append({ query.value(0).toString(), query.value(1).toString() });
    std::sort(pictures.begin(), pictures.end());
    const bool complete = read && m_db->rowsComplete(query);
    if (ok)
        *ok = complete;
    return pictures;
}

void AddArticle::on_ImageOptionSelectBox_currentIndexChanged(int index)
{
    if (index < 1)
        return;
    m_ui->VariantImageList->clear();
    m_ui->VariantImageList->setEnabled(false);
    const QString option = m_ui->ImageOptionSelectBox->itemData(index).toString();
    int column = -1;
    for (int i = 0; i < m_ui->VariantList->columnCount(); ++i)
        if (m_ui->VariantList->headerItem()->text(i) == option)
            column = i;
    if (column < 0)
        return;
    QStringList seen;
    for (int i = 0; i < m_ui->VariantList->topLevelItemCount(); ++i) {
        const QString value = m_ui->VariantList->topLevelItem(i)->text(column);
        if (seen.contains(value))
            continue;
        seen << value;
        auto *item = new QTreeWidgetItem(m_ui->VariantImageList);
        item->setText(0, value);
        const Read<SqlRows> rows = m_db->select(
            QStringLiteral("SELECT id,image FROM articles_images WHERE article_id=%1 AND "
                           "variant_name = '%2'")
                .arg(m_articleId)
                .arg(Database::escapeString(value)));
        if (!rows.ok()) {
            // A list built of what could not be read would save "no picture" for every value
            // it missed: it is not built, and the stored variation pictures stay.
            m_ui->VariantImageList->clear();
            m_variantImagesBuilt = false;
            Statics::showMessage(
                this,
                tr("Die Bilder der Varianten konnten nicht gelesen werden: %1").arg(rows.error()),
                2);
            return;
        }
        if (!rows->isEmpty()) {
            item->setText(1, rows->first().value(QStringLiteral("image")).toString());
            item->setData(0, kIdRole, rows->first().value(QStringLiteral("id")));
        }
    }
    const int columns = m_ui->VariantImageList->columnCount();
    for (int i = 0; i < columns; ++i) {
        m_ui->VariantImageList->resizeColumnToContents(i);
        if (i < columns - 1)
            m_ui->VariantImageList->setColumnWidth(i, m_ui->VariantImageList->columnWidth(i) + 10);
    }
    m_ui->VariantImageList->setEnabled(m_ui->VariantImageList->topLevelItemCount() > 0);
    m_variantImageOption = option;
    m_variantImagesBuilt = true;
}

void AddArticle::on_VariantImageList_itemDoubleClicked(QTreeWidgetItem *, int)
{
    if (m_ui->VariantImageList->selectedItems().isEmpty())
        return;
    handleFileSaveAsBeforeCloseSelected(Dialogs::openFileName(
        this, tr("Wähle ein Bild aus"), existingFolder(m_db, QStringLiteral("lastSingleDir")),
        tr("Alle Bildformate") + QLatin1String(kPictureFilter)));
}

void AddArticle::handleFileSaveAsBeforeCloseSelected(const QString &file)
{
    const auto selected = m_ui->VariantImageList->selectedItems();
    if (file.isEmpty() || !QFileInfo::exists(file) || selected.isEmpty())
        return;
    selected.first()->setText(1, file);
    selected.first()->setData(0, kNewRole, QStringLiteral("isNEW"));
    // Only where the next file dialog opens: a folder not remembered costs a click.
    if (!m_db->setOption(QStringLiteral("lastSingleDir"), QFileInfo(file).absolutePath()))
        qCInfo(lcApp).noquote() << "The picture folder last chosen was not stored:"
                                << m_db->lastErrorText;
}
