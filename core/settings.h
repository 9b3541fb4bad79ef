#pragma once

#include <QSettings>
#include <QString>
#include <memory>

// QSettings of the program. The main window's layout lives under its own application
// name; every other window and dialog shares the second one. Make one per use.
namespace Settings {
inline const QString organisation = QStringLiteral("Revevor");
inline const QString mainWindowApplication = QStringLiteral("ZirevPavlet3");
inline const QString application = QStringLiteral("Zerire3");

inline std::unique_ptr<QSettings> mainWindow()
{
    return std::make_unique<QSettings>(organisation, mainWindowApplication);
}
inline std::unique_ptr<QSettings> app()
{
    return std::make_unique<QSettings>(organisation, application);
}
} // namespace Settings
