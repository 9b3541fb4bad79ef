#pragma once

#include "core/backgroundworker.h"

#include <QList>
#include <QString>

#include <functional>

class Database;

// Writes articles into one CSV or text file: a header row, then per article every column of
// its row (in name order) and the paths of up to twelve main pictures. Runs on the
// background worker: the articles are read a few thousand at a time (one statement for
// their rows, one for their pictures), written as they come into a new file beside the
// chosen one, which takes the chosen name only when it is complete. A file that would not be
// complete (cancelled, a failed read or write) is removed; the chosen name keeps what it held.
class ArticleExport
{
public:
    // Articles read by one statement.
    static constexpr int kChunk = 5000;
    static constexpr int kPictureColumns = 12;

    struct Request
    {
        QList<int> ids; // in the order they are written
        QString fileName; // as chosen
        bool textForm = false; // line breaks as "<br>"
        bool ownerOnly = false; // readable by its owner alone (an export into the data folder)
        QString imageDir; // the picture folder, ending with "/"
    };
    struct Result
    {
        enum class Outcome {
            Cancelled, // also: never started
            Written,
            Refused, // the chosen name or folder takes no file: nothing written
            ReadFailed, // nothing written
            WriteFailed // nothing written, the former file as it was
        };
        Outcome outcome = Outcome::Cancelled;
        int count = 0; // articles written
        bool replaced = false; // a file of that name was replaced
        QString reason; // why not written, as the seller reads it
    };

    static Result run(Database &db, const Request &request, BackgroundJob::Control &control);

    // Tests: `hook` runs on the worker after each part of the articles was written to the
    // temporary file (an empty one: none).
    static void setAfterChunkForTesting(std::function<void()> hook);
};
