#include "core/logging.h"

Q_LOGGING_CATEGORY(lcDb, "app.db")
Q_LOGGING_CATEGORY(lcNet, "app.net")
Q_LOGGING_CATEGORY(lcWorker, "app.worker")
Q_LOGGING_CATEGORY(lcApp, "app")
