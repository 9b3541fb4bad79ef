#pragma once

#include <QObject>
#include <QString>

// Moves the article pictures that no database row names any more from the picture folder
// into the folder "ZirevPavlet_Images_Trash" on the user's desktop. Runs on a thread of its
// own with its own database connection; files are moved, never deleted or overwritten.
class ImageCleaner : public QObject
{
    Q_OBJECT

public:
    explicit ImageCleaner(QObject *parent = nullptr);

    // One run; emits finished() on every way out.
    void doCleanAds();

    // The desktop folder the pictures go to, ending without "/".
    static QString trashFolder();

signals:
    void sendNotification(QString noti);
    void finished();
    void getStatus(QString progressText, int maximum, int value);

public slots:
    void work();
};
