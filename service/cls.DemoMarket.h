#pragma once

// The simulated market: for any query, a stream of listings that start every couple of minutes
// and run for one to seven days, all derived from the seed, the query and the market clock,
// so the same question at the same market time always gets the same answer.

#include "untBackend.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

struct TDemoItemRecord
{
    TItem item;
    std::string description;
};

class TDemoMarket : public TBackend
{
public:
    // A new listing of a query starts on average this often (market seconds).
    static constexpr std::int64_t kListingInterval = 120;

    explicit TDemoMarket(std::uint64_t seed);
    ~TDemoMarket() override;

    const char* Name() const override { return "demo"; }
    TSearchOutcome Search(const TSearchQuery& query) override;
    TSuggestOutcome Suggest(const std::string& keyword) override;
    std::string ItemAddress(const std::string& itemId, const std::string& host) override;

    // The market clock: the wall clock moved forward by every Advance.
    std::int64_t NowMs() const;
    void Advance(std::int64_t seconds);

    // A listing that an answer has shown, for the item page; nullopt when none has.
    std::optional<TDemoItemRecord> KnownItem(const std::string& itemId) const;

    // The search at a given market time, for tests and the benchmark.
    TSearchOutcome SearchAt(const TSearchQuery& query, std::int64_t nowMs);

private:
    struct TStream;
    std::shared_ptr<const TStream> StreamFor(const TSearchQuery& query);
    void Remember(const TItem& item, const std::string& description);

    std::uint64_t fSeed;
    std::atomic<std::int64_t> fOffsetMs{0};

    static constexpr std::size_t kStreamsChars = 256 * 1024;
    std::mutex fStreamsLock;
    std::unordered_map<std::string, std::shared_ptr<const TStream>> fStreams;
    std::size_t fStreamsChars = 0;

    static constexpr std::size_t kRememberedItems = 10000;
    static constexpr std::size_t kRememberedBytes = 16 * 1024 * 1024;
    mutable std::mutex fItemsLock;
    std::unordered_map<std::string, TDemoItemRecord> fItems;
    std::size_t fItemsBytes = 0;
    std::unordered_map<std::string, TDemoItemRecord> fOlderItems;
};
