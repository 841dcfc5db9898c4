#pragma once

// The processor-load watchdog without the operating system: measuring the
// load of the whole machine from two samples of the idle time, and deciding
// when a period of high load has ended.

#include <cstdint>

namespace kantiq {

// Arms when a measurement is above the high threshold and asks for one capture
// restart at the first measurement below the low threshold after that. Loads
// and thresholds compare as unsigned 32-bit numbers; a failed measurement
// counts as 0.
class LoadWatcher {
 public:
  LoadWatcher(int32_t highPercent, int32_t lowPercent) : high_(highPercent), low_(lowPercent) {}

  // One measurement; true when it asks for a capture restart.
  bool observe(int32_t loadPercent);

 private:
  int32_t high_;
  int32_t low_;
  bool armed_ = false;
};

// Average load in percent of all processors over one sample interval, from
// the idle time of all processors and the system time at its start and end
// (100-ns units), rounded to the nearest percent. 0 when the samples cannot
// give a load (no time passed, no processors).
int32_t loadPercent(int64_t idleStart, int64_t idleEnd, int64_t timeStart, int64_t timeEnd,
                    int32_t processorCount);

// Where the basic information class keeps the processor count, and its size,
// for a process whose pointers have pointerBytes bytes: seven 32-bit fields,
// then three pointer-sized ones (aligned to their size), then the count as
// one byte; the whole padded to pointer alignment. The system answers that
// class only when asked for exactly this size.
struct BasicInformationLayout {
  uint32_t processorsAt;
  uint32_t bytes;
};
constexpr BasicInformationLayout basicInformationLayout(uint32_t pointerBytes) {
  const auto alignUp = [pointerBytes](uint32_t n) { return (n + pointerBytes - 1) / pointerBytes * pointerBytes; };
  const uint32_t processorsAt = alignUp(7 * 4) + 3 * pointerBytes;
  return {processorsAt, alignUp(processorsAt + 1)};
}

// The system queries one measurement needs (the standard information classes
// of the platform's system query, each into a buffer of fixed size).
class SystemInformationSource {
 public:
  static constexpr uint32_t kBasicClass = 0;        // processor count, see BasicInformationLayout
  static constexpr uint32_t kPerformanceClass = 2;  // 312 bytes, idle time at 0
  static constexpr uint32_t kTimeOfDayClass = 3;    // 32 bytes, current time at 8
  static constexpr uint32_t kBasicProcessorsAt = basicInformationLayout(sizeof(void*)).processorsAt;
  static constexpr uint32_t kBasicBytes = basicInformationLayout(sizeof(void*)).bytes;
  static constexpr uint32_t kPerformanceBytes = 312;
  static constexpr uint32_t kTimeOfDayBytes = 32;
  static_assert(kBasicBytes <= kPerformanceBytes, "one buffer serves every query");

  virtual ~SystemInformationSource() = default;
  // False when the system has no such query at all.
  virtual bool available() const = 0;
  // Fills buffer with the information class; false when the query fails.
  virtual bool query(uint32_t informationClass, void* buffer, uint32_t bytes) = 0;
  // Waits the given time.
  virtual void sleepMs(int32_t milliseconds) = 0;
};

constexpr int32_t kLoadSampleIntervalMs = 1000;

// One measurement spanning sampleIntervalMs: the load in percent, or 0 when
// the query is missing or any query fails. It always takes at least one sample
// interval, so a watcher calling it in a loop never spins, whatever fails.
int32_t measureLoad(SystemInformationSource& source, int32_t sampleIntervalMs = kLoadSampleIntervalMs);

}  // namespace kantiq
