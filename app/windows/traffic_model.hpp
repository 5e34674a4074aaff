#pragma once
// The rows of the traffic view: frames and records as the engine's batches bring them, newest
// last. The history is bounded; the oldest rows go first and are counted. Texts are made only for
// the rows a view asks for, so a batch costs little more than its copy.

#include "capture/traffic.hpp"

#include <QAbstractTableModel>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace zanst::app {

class TrafficModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { Time, Direction, Command, Length, Crc, Fields, Bytes, ColumnCount };
    static constexpr std::size_t kDefaultLimit = 50000;
    static constexpr int kShownBytes = 64; // the hex column; a copy holds them all

    explicit TrafficModel(QObject* parent = nullptr);

    void append(std::vector<capture::TrafficRow> rows);
    void clear();
    void setLimit(std::size_t limit);

    // Filters: a command byte (frames and the records that answer it), a balancer id (its records).
    void setCommandFilter(std::optional<std::uint8_t> command);
    void setBalancerFilter(std::optional<int> id);

    // Rows dropped from the history since the last clear. At the limit a tenth of it goes at once.
    std::uint64_t dropped() const { return dropped_; }
    const capture::TrafficRow& row(int shownRow) const;
    // Tab-separated lines, every byte in full, for the clipboard.
    QString copyText(const std::vector<int>& shownRows) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  signals:
    void droppedChanged(std::uint64_t dropped);

  private:
    bool passes(const capture::TrafficRow& row) const;
    void rebuildShown();
    QString text(const capture::TrafficRow& row, int column, bool full) const;

    std::deque<capture::TrafficRow> rows_;
    std::uint64_t firstSeq_ = 0;       // sequence number of rows_.front()
    std::vector<std::uint64_t> shown_; // sequence numbers of the rows that pass the filters
    std::size_t limit_ = kDefaultLimit;
    std::uint64_t dropped_ = 0;
    std::optional<std::uint8_t> command_;
    std::optional<int> balancer_;
};

} // namespace zanst::app
