#pragma once

#include <QString>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

class QWebEngineProfile;

// Serves the files of the description's HTML editor (TinyMCE and its page, in the folder
// "tinymce" beside the program) under an address scheme of their own, and no other file. So the
// page has an origin of its own: it reaches no other local file, and its content security
// policy can allow script from the editor's own files only ('self').
class DescriptionFiles : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT

public:
    // The address of `file`, relative to the editor's folder.
    static QUrl url(const QString &file);
    // Makes the scheme known to the web engine; this must happen before the application
    // object exists (done when the program is loaded).
    static void registerScheme();
    // Lets `profile` serve the files of `folder` under the scheme, unless it does already.
    static void installInto(QWebEngineProfile *profile, const QString &folder);

    void requestStarted(QWebEngineUrlRequestJob *job) override;

private:
    DescriptionFiles(const QString &folder, QObject *parent);

    QString m_folder; // canonical path
};
