#pragma once

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QString>
#include <QWidget>
#include <memory>

#include "core/imagelimits.h"

class Database;
class QMimeData;
class QTimer;

namespace Ui {
class PictureWidget;
}

// One picture slot of the article editor: shows a picture file turned upright by its EXIF
// orientation, loads files, takes drops from other slots and from outside, deletes its
// picture (the pictures behind move up one slot) and reloads the file when it changes.
class PictureWidget : public QWidget
{
    Q_OBJECT

public:
    // `db`: the editor's connection, for the folder last chosen from.
    PictureWidget(QWidget *parent, Database *db);
    ~PictureWidget() override;

    // Shows the picture at `path`: checked and decoded by the picture decoder, shown when that
    // ends (then settled() is emitted). A picture refused (or given up after the decode
    // time-out) empties the slot, which says why.
    void setImage(QString path);
    void clearImage();
    // The slot's file is missing: keeps the path, shows the no-photo picture.
    void setImageNotFound();
    // Turned pictures are kept as they are on disk: nothing to do.
    void savePicture();
    void getImagesFromMimeData(const QMimeData *mime);

    // The thumbnail made from the picture the slot decoded (and the format that picture came
    // in); null while none was decoded.
    QImage thumbnail(QByteArray *format = nullptr) const;
    // True while the slot's picture is being decoded: whether it is taken is not known yet.
    bool decoding() const;
    // True when the slot's file is one the seller chose himself (file dialog, drop): any file
    // outside the program's picture folder. A link at its end is followed then, as his own
    // Pictures folder may well be links; a picture of the picture folder is one a row names
    // (of this workstation, another one or a restored backup), and a link there is not.
    bool chosenBySeller() const;

    // How often a loaded file is checked for changes (3 s).
    void setCheckInterval(int milliseconds);

    // Full path of the file shown; empty when the slot is empty.
    QString imagePath;
    // All slots of the editor in display order, this one included; not owned.
    QList<PictureWidget *> *pictureSlots = nullptr;
    // Set when the picture was turned, by its EXIF orientation or by the seller.
    bool rotated = false;
    // The seller's own turn in degrees, a multiple of 90.
    int rotation = 0;

signals:
    // The decode of the slot's picture ended: it is shown, or the slot was emptied.
    void settled();

public slots:
    void handleFileSaveAsBeforeCloseSelected(const QString &fileName);
    void checkImageModified();

private slots:
    void on_openButton_clicked();
    void on_rotateButton_clicked();
    void on_deleteButton_clicked();
    void on_showExtern_clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void showNoPhoto();
    void showPicture(const QString &path, const ImageLimits::Decoded &decoded, int angle);
    void markModified();
    // Ignores a drag or drop without pictures, takes the slot's own picture back where it
    // was; true when that answered it.
    bool answeredOwnOrUnusable(QDropEvent *event) const;
    // A dropped address as a local file: web pictures are fetched first; other schemes
    // give the empty text.
    QString localFile(const QUrl &url) const;

    QDateTime m_fileTime;
    Database *m_db;
    std::unique_ptr<Ui::PictureWidget> m_ui;
    QWidget *m_dialogParent;
    // The one pending change check of this slot.
    QTimer *m_checkTimer;
    // Counts the pictures asked for: only the newest decode is shown.
    int m_generation = 0;
    bool m_decoding = false;
    // The picture decoded at the slot's size, not turned by the seller; null when it was
    // turned by its EXIF orientation (the seller can't turn it then).
    QImage m_unturned;
    QImage m_thumb;
    QByteArray m_thumbFormat;
};
