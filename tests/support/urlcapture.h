#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Catches the http, https and file URLs the program opens through QDesktopServices::openUrl
// while it lives, so tests neither start a browser nor open files.
class UrlCapture : public QObject
{
    Q_OBJECT

public:
    explicit UrlCapture(QObject *parent = nullptr);
    ~UrlCapture() override;

    QList<QUrl> urls() const { return m_urls; }

public slots:
    // Called by QDesktopServices.
    void openUrl(const QUrl &url);

private:
    QList<QUrl> m_urls;
};
