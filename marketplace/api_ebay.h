#pragma once

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

#include "marketplace/tradingtransport.h"

class ArticleModel;
class Database;

// A client of the marketplace's Trading API and seller-profiles service for one account.
// Every call is synchronous: it sends its request and waits in a local event loop on the
// calling thread, during which that thread's queued calls are delivered. Make one per
// account and task, and let it go afterwards.
class Api_Ebay : public QObject
{
    Q_OBJECT
public:
    // `mode` 1 uses the sandbox, any other value production.
    Api_Ebay(const QString &token, QObject *parent = nullptr, int mode = 0);
    ~Api_Ebay() override;

    // The error text of the last call: the marketplace's long message or the network
    // error; empty when the last call succeeded.
    QString getLastFail() const { return m_lastFail; }
    // Set when the last reference-data call could not get a fresh answer and used its cache
    // file older than 7 days instead: why no fresh answer was had. Empty otherwise.
    QString getStaleReason() const { return m_staleReason; }
    void setToken(const QString &token) { m_token = token; }
    bool isSandbox() const { return m_sandbox; }
    // How long a call waits for its answer (60 s); tests shorten it.
    void setTimeout(int milliseconds);

    // Account and sign-in
    // A new secret id for the sign-in: a random UUID, upper case, without braces.
    static QString getUidForSession();
    // The marketplace's sign-in page for the secret id.
    QString getAuthUrl(const QString &secretId);
    // The token the marketplace issued for the secret id after the user signed in:
    // token + "||" + expiry ("yyyy-MM-dd HH:mm:ss", now + 365 days); empty on failure.
    QString fetchToken(const QString &secretId, QString userName);
    // The raw GetUser reply followed by the raw GetUserPreferences reply. getLastFail()
    // stays empty only when both were read completely and succeeded.
    QString getUser();

    // What verifyItem does with an article.
    enum VerifyMode { Verify = 0, Add = 1, Revise = 2, Relist = 3, Schedule = 5 };
    Q_ENUM(VerifyMode)

    // Sends the article (a row joined with its account's columns) with its picture rows:
    // verification, addition, revision, relisting or hand-over to the scheduled start
    // service. Appends fee, error and total lines to `messages`.
    bool verifyItem(int mode, const QMap<QString, QVariant> &row,
                    const QList<QMap<QString, QVariant>> &pictures, QStringList &messages,
                    Database *db);

    // Reads the account's listings ending between `start` and `start` + 119 days, 50 to
    // a page, the unknown ones in full; emits sendAdItems per page.
    bool getMyeBaySelling(const QString &accountId, const QStringList &knownItemIds,
                          QDateTime start);

    // Ends a running listing; true when the marketplace confirmed it.
    bool endItem(const QString &reason, const QString &itemId, const QString &siteId);

    // Reference data: lists of one-entry maps, code to shown text.
    QList<QMap<QString, QString>> getSuggestedCategories(const QString &query,
                                                         const QString &siteId);
    QList<QMap<QString, QString>> getCategories(const QString &siteId, const QString &parentId,
                                                int levelLimit);
    void getEbayDetails(const QString &siteId, const QString &kind,
                        QList<QMap<QString, QString>> &out, Database *db);
    QList<QMap<QString, QString>> getStore(const QString &siteId, int accountId, Database *db);
    QList<QMap<QString, QString>> getProfiles(const QString &type, QString siteId, int accountId);
    QList<QMap<QString, QString>> getShippingDiscountProfiles(Database *db, int accountId);
    QString getCategorySpecifics(const QString &categoryId, const QString &siteId, Database *db);
    QList<QMap<QString, QString>> getCategoryFeatures(const QString &categoryId,
                                                      const QString &siteId, const QString &feature,
                                                      Database *db);

    // The ItemID of the last item call's answer.
    QString lastItemId;
    // Item.UUID sent with the next additions and relistings (32 hexadecimal digits): a
    // repeat with the same one is refused by the marketplace, which names the listing made
    // by the earlier call; verifyItem then reports that listing as its success. Empty: none.
    QString itemUuid;
    // True when the last verifyItem sent its request to the marketplace (so that, without
    // an answer, its outcome is unknown); false when it stopped before.
    bool lastCallSent = false;

signals:
    // Progress of a long call.
    void getStatus(QString text, int maximum, int value);
    // One page of listings read from the marketplace; the receiver owns the records.
    void sendAdItems(QList<ArticleModel *> items);

private:
    TradingTransport transport() const;
    // Uploads a local picture to the marketplace's picture hosting; its address, or empty
    // (with the reason in m_lastFail).
    QString uploadPicture(const QString &file, const QString &siteId);
    // Items with buyers' questions not answered yet.
    QSet<QString> unansweredQuestions();
    // GetItem of one listing into a new record; null when it can't be read.
    std::unique_ptr<ArticleModel> readListingInFull(const QString &itemId);
    // Hands the addition request to the scheduled start service.
    bool scheduleItem(const TradingTransport::Call &addition, const QMap<QString, QVariant> &row,
                      QStringList &messages, Database *db);

    QString m_token;
    bool m_sandbox = false;
    int m_timeoutMs = 60000;
    QString m_lastFail;
    QString m_staleReason;
};
