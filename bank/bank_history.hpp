#pragma once
// The plots' history: one sample per second at most of every cell's voltage and temperature and
// of the bank's voltage and current, in a ring of fixed capacity, so that hours of polling keep
// the memory bounded. The oldest sample is overwritten, its storage reused.

#include "bank_snapshot.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zanst::bank {

inline constexpr std::int16_t kNoReading = INT16_MIN;

struct BankSample {
    std::int64_t atMs = 0;                   // ms since the epoch
    std::vector<std::int16_t> millivolts;    // per balancer (index 0 = cell 1); kNoReading if none
    std::vector<std::int16_t> tenthsCelsius; // kNoReading where no voltage came either
    std::optional<int> bankMv;
    std::optional<int> bankMa;
};

class BankHistory {
  public:
    static constexpr std::size_t kDefaultCapacity = 3600; // an hour at one sample a second
    // A tick a little early still counts as the next second.
    static constexpr std::int64_t kDefaultSpacingMs = 900;

    explicit BankHistory(std::size_t capacity = kDefaultCapacity, std::int64_t spacingMs = kDefaultSpacingMs);

    // Adds a sample unless the last one is younger than the spacing; returns whether it did.
    bool add(std::int64_t atMs, const BankSnapshot& snapshot);
    // The bank's voltage and current as last reported; stored with the following samples.
    void setBank(int millivolts, int milliamps);

    std::size_t size() const { return size_; }
    std::size_t capacity() const { return ring_.size(); }
    bool empty() const { return size_ == 0; }
    // 0 is the oldest sample.
    const BankSample& at(std::size_t i) const;
    const BankSample& latest() const { return at(size_ - 1); }
    // The index of the first sample at or after `fromMs`.
    std::size_t firstAtOrAfter(std::int64_t fromMs) const;
    void clear();

  private:
    std::vector<BankSample> ring_;
    std::size_t head_ = 0; // where the next sample goes
    std::size_t size_ = 0;
    std::int64_t spacingMs_;
    std::optional<int> bankMv_;
    std::optional<int> bankMa_;
};

} // namespace zanst::bank
