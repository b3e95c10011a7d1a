// The cluster traffic the fake engine plays, one kind per measurement:
//   SteadyTraffic  one-line data frames at a fixed rate, the same frame to both readers;
//   BurstTraffic   a fixed number of one-line data frames to each reader, as fast as its socket takes them;
//   MixTraffic     a slow radio's pattern: each data frame with its monitored copy before it and the
//                  engine's acknowledgement after it.
// Every data frame carries a mark with its sequence number and the time it was made.
#pragma once

#include "EngineClient.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvantle::bench {

// Where traffic goes; the fake engine implements it over its clients.
class TrafficSink {
  public:
    virtual ~TrafficSink() = default;
    virtual void toReaders(std::string_view frameBytes) = 0;  // the program and the direct reader
    virtual void toMonitors(std::string_view frameBytes) = 0; // readers that turned monitoring on
    virtual void toRole(Role role, std::string_view frameBytes) = 0;
    virtual bool holds(Role role) const = 0;
    virtual std::size_t pendingBytes(Role role) const = 0;
};

class Traffic {
  public:
    virtual ~Traffic() = default;
    // Makes and hands out whatever is due by now.
    virtual void produce(TrafficSink &sink) = 0;
    // When the next frame is due (a time already passed when one could go out now); 0 when nothing is due
    // until a reader's socket takes more of what is queued for it.
    virtual std::int64_t nextDueNs(const TrafficSink &sink) const = 0;
    virtual bool done(const TrafficSink &sink) const = 0;
};

class SteadyTraffic final : public Traffic {
  public:
    SteadyTraffic(int phase, std::int64_t framesPerSecond, std::size_t frameBytes, std::int64_t seconds);
    void produce(TrafficSink &sink) override;
    std::int64_t nextDueNs(const TrafficSink &) const override;
    bool done(const TrafficSink &) const override { return next_ >= total_; }

  private:
    int phase_;
    std::int64_t rate_;
    std::size_t frameBytes_;
    std::int64_t total_;
    std::int64_t startNs_;
    std::int64_t next_ = 0;
};

class BurstTraffic final : public Traffic {
  public:
    BurstTraffic(int phase, std::int64_t frames, std::size_t frameBytes);
    void produce(TrafficSink &sink) override;
    std::int64_t nextDueNs(const TrafficSink &sink) const override;
    bool done(const TrafficSink &sink) const override;

  private:
    void produceFor(TrafficSink &sink, Role role, std::int64_t &next);
    bool canProduceFor(const TrafficSink &sink, Role role, std::int64_t next) const;

    int phase_;
    std::int64_t frames_;
    std::size_t frameBytes_;
    std::int64_t nextForProgram_ = 0;
    std::int64_t nextForDirect_ = 0;
};

class MixTraffic final : public Traffic {
  public:
    MixTraffic(int phase, std::int64_t intervalUs, std::size_t frameBytes, std::int64_t seconds);
    void produce(TrafficSink &sink) override;
    std::int64_t nextDueNs(const TrafficSink &) const override { return dueNs(); }
    bool done(const TrafficSink &) const override { return next_ >= total_; }

  private:
    std::int64_t dueNs() const { return startNs_ + next_ * intervalNs_; }

    int phase_;
    std::int64_t intervalNs_;
    std::size_t frameBytes_;
    std::int64_t total_;
    std::int64_t startNs_;
    std::int64_t next_ = 0;
};

} // namespace corvantle::bench
