#include "files/app_data.hpp"

#include <QDir>
#include <QStandardPaths>

namespace zanst::app {

QString appDataFolder() {
    QString base = qEnvironmentVariable("APPDATA");
    if (base.isEmpty()) {
        base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    }
    return QDir(base).filePath(QStringLiteral("Kestrova Energy/Zanthe Service Tool"));
}

QString recordingsFolder() {
    return QDir(appDataFolder()).filePath(QStringLiteral("Recordings"));
}

QString metricsFolder() {
    return QDir(appDataFolder()).filePath(QStringLiteral("Metrics"));
}

} // namespace zanst::app
