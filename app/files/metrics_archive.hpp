#pragma once
// The window's side of a metrics fetch: each fetched record is appended to the fetch's own file
// in the Metrics folder. Metrics files belong to the window's thread; no widget is involved, so
// the engine's tests can store through it too.

#include "metrics/fetch.hpp"
#include "metrics/files.hpp"
#include "metrics/record.hpp"

#include <QString>

namespace zanst::app {

class MetricsArchive {
  public:
    explicit MetricsArchive(const QString& folder);

    // A fetch begins: the next record starts a new file.
    void fetchBegan();
    // Appends the record to the active file (created with the first record). Returns a line for
    // the metrics console when something went wrong or a removed file was created again, else
    // an empty text.
    QString store(const metrics::MetricsMetadata& record);
    // "Metrics fetch done: <n> of <m> instances stored", n counted from the blocks in the file.
    QString finishedLine(const metrics::FetchSummary& summary) const;

    // The file the current fetch writes to; empty before its first record.
    QString activeFile() const;
    int stored() const { return store_.storedInActiveFile(); }

  private:
    metrics::MetricsFileStore store_;
};

} // namespace zanst::app
