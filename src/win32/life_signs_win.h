#pragma once

// Kantiq's signs of life for its watchdog (KantiqWache.exe): a small block
// of named shared memory in the user's session with Kantiq's process, its
// main window and the analysis worker's beat, a counter the worker changes
// on every pass through its loop. The block lives as long as a process holds
// it; Kantiq fills it once it holds the single-instance guard, so it always
// names the one running Kantiq. The watchdog only reads it.

#include <windows.h>

#include <cstdint>
#include <optional>

#include "win32/owners_win.h"

namespace kantiq {

inline constexpr char kLifeSignsName[] = "BrevaloKantiqLebenszeichen";
// The watchdog's single-instance guard; Kantiq looks for it to know whether
// a watchdog takes care of it.
inline constexpr char kWatchdogMutexName[] = "BREVALOKANTIQWACHE";

// The block's layout, the same for 32- and 64-bit programs.
struct LifeSignsBlock {
  uint32_t magic;
  uint32_t processId;
  uint64_t window;      // the main window's handle
  uint32_t workerBeat;  // 0 until the worker's first pass
  uint32_t reserved;
};

inline constexpr uint32_t kLifeSignsMagic = 0x4B514C53;  // "KQLS"

// Kantiq's side: makes the block and names this process and window. An
// empty one (the system refused the memory) leaves Kantiq running without
// a worker check; the watchdog still watches the process.
class LifeSigns {
 public:
  explicit LifeSigns(HWND window);
  LifeSigns(const LifeSigns&) = delete;
  LifeSigns& operator=(const LifeSigns&) = delete;

  explicit operator bool() const { return view_.valid(); }
  // Where the worker counts its passes (see beatOnce); null when empty.
  uint32_t* workerBeat();

 private:
  UniqueHandle mapping_;
  UniqueMappedView view_;
};

// One pass of the worker: changes the beat, never to 0.
void beatOnce(uint32_t* beat);

// The watchdog's side: what the block says now, if there is one.
struct LifeSignsReading {
  uint32_t processId = 0;
  HWND window = nullptr;
  uint32_t workerBeat = 0;
};
std::optional<LifeSignsReading> readLifeSigns();

// Whether a watchdog runs in this session.
bool watchdogRunning();

}  // namespace kantiq
