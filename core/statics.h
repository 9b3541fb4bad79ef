#pragma once

#include <QMap>
#include <QString>

#include "core/imagelimits.h"

class QNetworkAccessManager;
class StagedFiles;

class QTreeWidget;
class QWidget;

// Small helpers used all over the program: text extraction, prices, hashing,
// messages, HTTP, thumbnails and the log file.
class Statics
{
public:
    // The text between the first `start` and the next `end` after it (case-sensitive).
    // An empty start means from the beginning, an empty end to the end of the text.
    // An empty text or a marker that is not found gives the empty text.
    static QString getstr(const QString &text, const QString &start, const QString &end);
    // MD5 of the UTF-8 bytes, 32 lower-case hex digits.
    static QString hashString(const QString &text);
    // A price as a seller writes it, in plain notation (NumberReader): "1.234,50" and
    // "1,234.50" -> "1234.50", "12,5" -> "12.5", "19,99 €" -> "19.99"; "12.50" stays. The
    // empty text when it is no number.
    static QString fixPrice(const QString &text);
    // Turns the HTML entities the marketplace uses into their characters.
    static QString fixHtml(const QString &text);

    // Modal message with one confirm button; type 0 "Information", 1 "Warnung",
    // 2 "Fehlerhinweis". Returns when it was closed. `parent` may be null.
    static void showMessage(QWidget *parent, QString text, int type);
    // Modal yes/no question; true for yes.
    static bool showQuestionDialog(QWidget *parent, QString header, QString text);

    // A tooltip that shows `text` as it is. Qt takes a tooltip for rich text as soon as it
    // looks like markup, and rich text loads pictures from any path it names: text from
    // outside (titles, the marketplace's messages) goes into a tooltip through this.
    static QString plainToolTip(const QString &text);

    // The separator between the parts of a desktop notification's message: title, text
    // and, optionally, a sound file to play.
    static inline const QString notificationSeparator = QStringLiteral("\u00a7\u00a7\u00a7");
    // A notification's message of `title` and `text`. The separator is taken out of both,
    // and a title's trailing "§" that would run into it: no text from outside in them
    // can add a sound to play or cut the message short.
    static QString notificationMessage(const QString &title, const QString &text);

    // Synchronous GET (empty `data`) or form POST on the calling thread; the thread's
    // queued events are delivered while it waits. The body (gzip unpacked), or "" after a
    // time-out, an error status, a network error or a body over the reply limit; then
    // `failure` (when given) says why, in German. A POST, or a request with headers of the
    // caller, follows no redirect to another server: its data is for the addressed one.
    static QString HttpGet(QString url, QString data, QMap<QString, QString> headers = {},
                           QString *failure = nullptr);
    // Fetches `url` into `file`. With `overwrite` false and `file` present (or written into
    // `staged`): true at once. A `manager` of the calling thread keeps its connections open
    // for the next download; without one, each download opens its own. Without `staged` the
    // file is durable under its name when this returns true; with it, it is written into
    // `staged` and gets its name when the caller commits that.
    static bool DownloadURL(QString url, QString file, bool overwrite, QString referer = QString(),
                            QNetworkAccessManager *manager = nullptr,
                            StagedFiles *staged = nullptr);
    // Time-out of HttpGet and DownloadURL in milliseconds (15000); tests shorten it.
    static int httpTimeout();
    static void setHttpTimeout(int milliseconds);

    // Writes a copy scaled to fit 150 x 100 as `thumbFolder` + "thumb_" + file name and
    // returns "thumb_" + file name; a missing picture returns `imageFile` unchanged, an
    // unreadable one, a drawing or one over the pixel budget (core/imagelimits.h) the empty
    // text. With `staged`, a picture written there is read from it and the thumbnail is
    // written into it (named when the caller commits it); without, the thumbnail is durable
    // under its name when this returns. The picture is decoded by the picture decoder process
    // (ImageLimits::decodeWithin): one past the decode time-out is given up. The thumbnail is
    // the seller's alone (0600) and holds the picture's pixels and nothing else of it.
    static QString CreateThumb(const QString &imageFile, const QString &thumbFolder,
                               StagedFiles *staged = nullptr);
    // CreateThumb in two steps. ThumbImage has the picture at `file` checked and decoded into
    // the thumbnail's box (waiting for it; its refusal or error when there is none); thumbOf
    // fits a decoded picture into that box. WriteThumb writes such a thumbnail of `imageFile`
    // as CreateThumb does and returns its name, empty on failure.
    static ImageLimits::Decoded ThumbImage(const QString &file);
    static QSize thumbBox();
    static QImage thumbOf(const QImage &picture);
    static QString WriteThumb(const QImage &thumb, const QString &imageFile,
                              const QByteArray &sourceFormat, const QString &thumbFolder,
                              StagedFiles *staged = nullptr);

    // After rows were removed: makes `row` (or the last row) current and selects it.
    static void SelectNextAfterRemove(QTreeWidget *tree, int row);

    // Sends the program's log output to the file at `path` (appending).
    static void InitLogger(QString path);

    // Modes of what is the seller's alone (the data folder, the files the program writes
    // there, backup archives): a file readable and writable by its owner only (0600), a
    // folder also enterable by him only (0700), set explicitly whatever the umask. False
    // when the mode can't be set.
    static bool setOwnerOnly(const QString &path);
    // Takes every permission of group and others from `path` and keeps the owner's own;
    // true when there were any to take. For what was there before.
    static bool revokeOthersAccess(const QString &path);
    // A size for a message: whole megabytes from 1 MB on, else whole kilobytes (at least 1).
    static QString sizeText(qint64 bytes);
};
