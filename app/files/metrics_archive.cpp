#include "files/metrics_archive.hpp"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <ctime>
#include <filesystem>

namespace zanst::app {

namespace {

std::filesystem::path toPath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

std::tm localNow() {
    const QDateTime now = QDateTime::currentDateTime();
    std::tm t{};
    t.tm_mday = now.date().day();
    t.tm_mon = now.date().month() - 1;
    t.tm_year = now.date().year() - 1900;
    t.tm_hour = now.time().hour();
    t.tm_min = now.time().minute();
    t.tm_sec = now.time().second();
    return t;
}

} // namespace

MetricsArchive::MetricsArchive(const QString& folder) : store_(toPath(folder)) {}

void MetricsArchive::fetchBegan() {
    store_.forgetActiveFile();
}

QString MetricsArchive::store(const metrics::MetricsMetadata& record) {
    const metrics::StoreResult result = store_.storeMetricsInActiveFile(record, localNow());
    return QString::fromStdString(result.message);
}

QString MetricsArchive::finishedLine(const metrics::FetchSummary& summary) const {
    return QString::fromStdString(metrics::fetchEndedLine(stored(), summary.requested));
}

QString MetricsArchive::activeFile() const {
    return QString::fromStdU16String(store_.activeMetricsFileName().u16string());
}

} // namespace zanst::app
