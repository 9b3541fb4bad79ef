#pragma once

#include <QCoreApplication>
#include <QString>

#include <functional>

class Database;

// Moves the article pictures that no database row names any more from the picture folder
// into the folder "ZirevPavlet_Images_Trash" on the user's desktop (in the home folder when
// there is no desktop folder). Files are moved, never deleted or overwritten. Runs as a step
// of "Datenbank aufräumen" on the background worker, with the worker's connection.
//
// It moves only what the database, read whole, names nowhere: when a read fails (the server
// gone or refusing, a damaged file) it moves nothing.
class ImageCleaner
{
    Q_DECLARE_TR_FUNCTIONS(ImageCleaner)

public:
    struct Outcome
    {
        enum class Ended {
            Done, // every file was looked at
            Stopped, // stopped after `checked` files (cancelled, or the program is closing)
            NoTrashFolder, // the folder for the moved pictures can't be made: nothing moved
            NoPictureFolder, // there is no picture folder: nothing moved
            NotRead, // a read failed (`error` says why): nothing moved
        };
        Ended ended = Ended::Done;
        int moved = 0;
        int checked = 0;
        int files = 0;
        // Where the pictures go, and whether that is on the desktop.
        QString folder;
        bool onDesktop = true;
        QString error;
        // What the seller reads of it.
        QString text() const;
    };
    // Called with the files looked at so far and the number listed.
    using Progress = std::function<void(int checked, int files)>;
    // True when the run is to stop after the file in hand.
    using Stop = std::function<bool()>;

    static Outcome clean(Database &db, const Stop &stop = Stop(),
                         const Progress &progress = Progress());

    // The folder the pictures go to, without a closing "/": "ZirevPavlet_Images_Trash" on the
    // desktop, or in the home folder when the desktop folder does not exist (`onDesktop`
    // false then).
    static QString trashFolder(bool *onDesktop = nullptr);
};
