#include "core/readresult.h"

#include "core/logging.h"

namespace ReadResultInternal {

void failedReadTaken(const QString &error)
{
    qCWarning(lcDb).noquote() << "A failed read was taken as its value:" << error;
}

} // namespace ReadResultInternal
