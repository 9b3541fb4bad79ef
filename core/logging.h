#pragma once

#include <QLoggingCategory>

// Switch on with QT_LOGGING_RULES, e.g. "app.db.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcDb)
Q_DECLARE_LOGGING_CATEGORY(lcNet)
Q_DECLARE_LOGGING_CATEGORY(lcWorker)
Q_DECLARE_LOGGING_CATEGORY(lcApp)
