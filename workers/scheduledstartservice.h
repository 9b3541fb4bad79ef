#pragma once

#include "core/readresult.h"

#include <QObject>
#include <QString>

class Database;

// Client of the start-time service on the maker's server, which lists an article on the
// seller's account at a chosen time while the program need not run. Each start is paid
// from a prepaid credit that the seller holds with the maker.
//
// The requests block the calling thread (each in a local event loop, up to the HTTP
// time-out). Without a configured server address nothing is sent and every request
// behaves as if the server did not answer. The upload of an article is the marketplace
// client's (Api_Ebay::verifyItem in mode Schedule); this class does the rest.
class ScheduledStartService : public QObject
{
    Q_OBJECT

public:
    // `db` is a connection of the calling thread; it is not owned.
    explicit ScheduledStartService(Database *db, QObject *parent = nullptr);

    // The seller's credit for all accounts, as the display text the server sends
    // (e.g. "12,50 €"); empty when the server can't be reached. A failed read when the
    // accounts could not be read: nothing is asked then.
    Read<QString> credit();
    // True when `credit` says that nothing is left (it begins with "0,00"). An empty text
    // (server unreachable) is not "nothing left".
    static bool noCreditLeft(const QString &credit);

    // Withdraws the job `jobId` at the service. True only when the server answered
    // exactly "success"; anything else means the job may still start.
    bool withdraw(const QString &jobId);

    // The follow-up of a synchronisation round: asks the service for the state of every
    // uploaded scheduled article, one after the other. A started article moves to the
    // active folder with its listing number; a failed one keeps its folder, loses its
    // start and job id and shows the service's message; a pending one (or one the server
    // did not answer for) stays as it is. False when the scheduled articles could not be
    // read (the connection's lastErrorText says why): none is asked, nothing changes.
    bool followUp();

signals:
    // A folder's shown article count changed by `count` (or is `count` when `absolute`).
    void ChangeFolderCount(int folder, int count, bool absolute);

private:
    Database *m_db;
};
