#include "capture/load_watcher.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace kantiq {

bool LoadWatcher::observe(int32_t loadPercent) {
  const auto load = static_cast<uint32_t>(loadPercent);
  if (load > static_cast<uint32_t>(high_)) armed_ = true;
  if (load < static_cast<uint32_t>(low_) && armed_) {
    armed_ = false;
    return true;
  }
  return false;
}

int32_t loadPercent(int64_t idleStart, int64_t idleEnd, int64_t timeStart, int64_t timeEnd,
                    int32_t processorCount) {
  if (timeEnd <= timeStart || processorCount <= 0) return 0;
  const double idle = static_cast<double>(idleEnd) - static_cast<double>(idleStart);
  const double elapsed = static_cast<double>(timeEnd) - static_cast<double>(timeStart);
  const double load = 100.0 - (idle / elapsed) * 100.0 / processorCount + 0.5;
  // Clock jumps can give anything; keep the conversion to int32 defined.
  if (!std::isfinite(load)) return 0;
  if (load >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  if (load <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(load);
}

namespace {

int64_t readInt64(const uint8_t* p) {
  int64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

int32_t measureLoad(SystemInformationSource& source, int32_t sampleIntervalMs) {
  using S = SystemInformationSource;
  // Buffers sized for the largest query; 8-byte aligned for the system's structures.
  alignas(8) std::array<uint8_t, S::kPerformanceBytes> buffer{};

  auto failed = [&] {
    source.sleepMs(sampleIntervalMs);
    return 0;
  };
  if (!source.available()) return failed();

  if (!source.query(S::kBasicClass, buffer.data(), S::kBasicBytes)) return failed();
  const int32_t processors = buffer[S::kBasicProcessorsAt];
  if (!source.query(S::kTimeOfDayClass, buffer.data(), S::kTimeOfDayBytes)) return failed();
  const int64_t time1 = readInt64(buffer.data() + 8);
  if (!source.query(S::kPerformanceClass, buffer.data(), S::kPerformanceBytes)) return failed();
  const int64_t idle1 = readInt64(buffer.data());

  source.sleepMs(sampleIntervalMs);

  if (!source.query(S::kTimeOfDayClass, buffer.data(), S::kTimeOfDayBytes)) return 0;
  const int64_t time2 = readInt64(buffer.data() + 8);
  if (!source.query(S::kPerformanceClass, buffer.data(), S::kPerformanceBytes)) return 0;
  const int64_t idle2 = readInt64(buffer.data());

  return loadPercent(idle1, idle2, time1, time2, processors);
}

}  // namespace kantiq
