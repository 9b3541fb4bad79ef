#include "core/statics.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QImageWriter>
#include <QItemSelectionModel>
#include <QTextDocument>
#include <QTreeWidget>

#include "core/confirmdialog.h"
#include "core/dialogs.h"
#include "core/imagelimits.h"
#include "core/logging.h"
#include "core/mymessageoutput.h"
#include "core/numberreader.h"
#include "core/picturerequest.h"
#include "core/stagedfiles.h"

QString Statics::getstr(const QString &text, const QString &start, const QString &end)
{
    if (text.isEmpty())
        return QString();
    int from = 0;
    if (!start.isEmpty()) {
        const int at = text.indexOf(start);
        if (at < 0)
            return QString();
        from = at + start.size();
    }
    if (end.isEmpty())
        return text.mid(from);
    const int to = text.indexOf(end, from);
    if (to < 0)
        return QString();
    return text.mid(from, to - from);
}

QString Statics::hashString(const QString &text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString Statics::fixPrice(const QString &text)
{
    return NumberReader::plain(text, NumberReader::Decimal | NumberReader::Exponent);
}

namespace {
// The character a numeric reference ("#228", "#xE4") stands for; empty when invalid.
QString decodeNumericEntity(const QStringRef &name)
{
    bool ok = false;
    uint code = 0;
    if (name.size() > 2 && (name.at(1) == QLatin1Char('x') || name.at(1) == QLatin1Char('X')))
        code = name.mid(2).toUInt(&ok, 16);
    else if (name.size() > 1 && name.at(1).isDigit())
        code = name.mid(1).toUInt(&ok, 10);
    if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return QString();
    const char32_t character = code;
    return QString::fromUcs4(&character, 1);
}
} // namespace

QString Statics::fixHtml(const QString &text)
{
    static const QHash<QString, QString> named = {
        { QStringLiteral("auml"), QStringLiteral("\u00E4") },
        { QStringLiteral("ouml"), QStringLiteral("\u00F6") },
        { QStringLiteral("uuml"), QStringLiteral("\u00FC") },
        { QStringLiteral("Auml"), QStringLiteral("\u00C4") },
        { QStringLiteral("Ouml"), QStringLiteral("\u00D6") },
        { QStringLiteral("Uuml"), QStringLiteral("\u00DC") },
        { QStringLiteral("szlig"), QStringLiteral("\u00DF") },
        { QStringLiteral("euro"), QStringLiteral("\u20AC") },
        { QStringLiteral("quot"), QStringLiteral("\"") },
        { QStringLiteral("apos"), QStringLiteral("'") },
        { QStringLiteral("nbsp"), QStringLiteral("\u00A0") },
        { QStringLiteral("raquo"), QStringLiteral("\u00BB") },
        { QStringLiteral("amp"), QStringLiteral("&") },
    };
    // The longest reference we decode is "#1114111".
    constexpr int longestName = 8;

    // One pass from left to right: a decoded "&" is never read again, so "&amp;auml;"
    // stays the text "&auml;" just as if "&amp;" were replaced after all the others.
    QString result;
    result.reserve(text.size());
    int pos = 0;
    while (pos < text.size()) {
        const int amp = text.indexOf(QLatin1Char('&'), pos);
        if (amp < 0) {
            result += text.midRef(pos);
            break;
        }
        result += text.midRef(pos, amp - pos);
        const int semicolon = text.indexOf(QLatin1Char(';'), amp + 1);
        const int length = semicolon - amp - 1;
        QString decoded;
        if (semicolon > 0 && length > 0 && length <= longestName) {
            const QStringRef name = text.midRef(amp + 1, length);
            decoded = name.startsWith(QLatin1Char('#')) ? decodeNumericEntity(name)
                                                        : named.value(name.toString());
        }
        if (decoded.isEmpty()) {
            result += QLatin1Char('&');
            pos = amp + 1;
        } else {
            result += decoded;
            pos = semicolon + 1;
        }
    }
    return result;
}

void Statics::showMessage(QWidget *parent, QString text, int type)
{
    Dialogs::message(parent, ConfirmDialog::headerForType(type), text, type);
}

bool Statics::showQuestionDialog(QWidget *parent, QString header, QString text)
{
    return Dialogs::question(parent, header, text);
}

QString Statics::plainToolTip(const QString &text)
{
    // A text Qt takes for plain text is shown as it is. One it would take for markup is
    // escaped into a paragraph: rich text that shows every character as typed.
    if (!Qt::mightBeRichText(text))
        return text;
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

QString Statics::notificationMessage(const QString &title, const QString &text)
{
    QString head = QString(title).remove(notificationSeparator);
    // The message is split at the first separator: a title's own "§" in front of it
    // would move the split into the title.
    while (head.endsWith(notificationSeparator.at(0)))
        head.chop(1);
    return head + notificationSeparator + QString(text).remove(notificationSeparator);
}

namespace {

const QSize kThumbBox(150, 100);

} // namespace

ImageLimits::Decoded Statics::ThumbImage(const QString &file)
{
    // Pictures often carry the wrong suffix; the decoder goes by the content. It decodes a
    // bigger picture right at the thumbnail's size and enlarges a smaller one to fill the box.
    return ImageLimits::decodeWithin(ImageLimits::pictureFile(file, kThumbBox, true));
}

QSize Statics::thumbBox()
{
    return kThumbBox;
}

QImage Statics::thumbOf(const QImage &picture)
{
    if (picture.isNull() || picture.size() == picture.size().scaled(kThumbBox, Qt::KeepAspectRatio))
        return picture;
    return picture.scaled(kThumbBox, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QString Statics::CreateThumb(const QString &imageFile, const QString &thumbFolder,
                             StagedFiles *staged)
{
    const QString readFrom = staged ? staged->pathOf(imageFile) : imageFile;
    if (!QFileInfo::exists(readFrom))
        return imageFile;
    // Decoded by the picture decoder; a decode past its time is given up.
    const ImageLimits::Decoded decoded = ThumbImage(readFrom);
    if (!decoded.refusal.isEmpty()) {
        qCWarning(lcApp).noquote()
            << "No thumbnail of" << imageFile + QStringLiteral(":") << decoded.refusal;
        return QString();
    }
    if (decoded.image.isNull()) {
        qCWarning(lcApp, "Can't load Image %s", qUtf8Printable(imageFile));
        return QString();
    }
    return WriteThumb(decoded.image, imageFile, decoded.format, thumbFolder, staged);
}

QString Statics::WriteThumb(const QImage &thumb, const QString &imageFile,
                            const QByteArray &sourceFormat, const QString &thumbFolder,
                            StagedFiles *staged)
{
    const QFileInfo source(imageFile);
    const QString thumbName = QStringLiteral("thumb_") + source.fileName();
    const QString target = thumbFolder + thumbName;
    // Written in the format the name promises, else in the one the picture came in.
    QByteArray format = source.suffix().toLower().toLatin1();
    if (!QImageWriter::supportedImageFormats().contains(format))
        format = sourceFormat;

    // Made of the pixels alone: no text, profile or other metadata of the picture goes into
    // the program's own thumbnail, however the picture came here.
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(PictureRequest::pixelsOnly(thumb))) {
        qCWarning(lcApp, "Can't write thumbnail %s: %s", qUtf8Printable(target),
                  qUtf8Printable(writer.errorString()));
        return QString();
    }
    // Private, written under a name of its own and then renamed: a failed write leaves no
    // broken thumbnail behind, and none is written through a link planted in its place.
    StagedFiles own;
    QString error;
    if (!(staged ? staged : &own)->write(target, encoded, &error, StagedFiles::Mode::OwnerOnly)
        || !own.commit(&error)) {
        qCWarning(lcApp, "Can't write thumbnail %s: %s", qUtf8Printable(target),
                  qUtf8Printable(error));
        return QString();
    }
    return thumbName;
}

void Statics::SelectNextAfterRemove(QTreeWidget *tree, int row)
{
    if (!tree || tree->topLevelItemCount() == 0)
        return;
    row = qBound(0, row, tree->topLevelItemCount() - 1);
    const QModelIndex index = tree->model()->index(row, 0);
    tree->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    tree->scrollTo(index);
}

void Statics::InitLogger(QString path)
{
    MessageLog::open(path);
}

namespace {

constexpr QFileDevice::Permissions kOwnerFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner
    | QFileDevice::ReadUser | QFileDevice::WriteUser;
constexpr QFileDevice::Permissions kOwnerAll
    = kOwnerFile | QFileDevice::ExeOwner | QFileDevice::ExeUser;

} // namespace

bool Statics::setOwnerOnly(const QString &path)
{
    const QFileInfo info(path);
    // A link's target is not the program's to change.
    if (!info.exists() || info.isSymLink())
        return false;
    return QFile::setPermissions(path, info.isDir() ? kOwnerAll : kOwnerFile);
}

bool Statics::revokeOthersAccess(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isSymLink())
        return false;
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup
        | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther
        | QFileDevice::ExeOther;
    const QFileDevice::Permissions current = info.permissions();
    if (!(current & others))
        return false;
    // The "user" flags say what this process may do; on the file system they are the
    // owner's, so only the owner's own are passed on.
    return QFile::setPermissions(
        path,
        current
            & (kOwnerAll
               & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser)));
}
