#pragma once

#include "core/database.h"

#include <cstdio>
#include <cstdlib>

// A benchmark whose data could not be written measures nothing: it stops with the reason.
inline void mustWrite(bool written, const Database &db)
{
    if (written)
        return;
    std::fprintf(stderr, "writing the benchmark's data failed: %s\n", qPrintable(db.lastErrorText));
    std::exit(1);
}
