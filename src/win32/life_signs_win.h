#pragma once

// Kantiq's signs of life for its watchdog (KantiqWache.exe): a small block
// of named shared memory in the user's session with Kantiq's process, its
// main window, the analysis worker's beat (a counter the worker changes on
// every pass through its loop) and the exit code Kantiq ends with, written
// just before it ends. The block lives as long as a process holds it; Kantiq
// fills it once it holds the single-instance guard, so it always names the
// one running Kantiq. The watchdog holds it too while it watches that
// process, and so still reads the exit code Kantiq announced once the
// process has gone: a process that ends without announcing (killed, say)
// has not ended as it meant to, whatever code the system reports.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <utility>

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
  uint32_t endAnnounced;  // 1 once exitCode holds the code Kantiq ends with
  uint32_t exitCode;
  uint32_t reserved;
};

inline constexpr uint32_t kLifeSignsMagic = 0x4B514C53;  // "KQLS"

// Kantiq's side: the block, once per process and held to its end. publish
// makes it and names this process and window; while it could not be made
// (the system refused the memory) the other calls do nothing, and the
// watchdog watches the process only.
class LifeSigns {
 public:
  static LifeSigns& process();

  void publish(HWND window);
  // Where the worker counts its passes (see beatOnce); null when there is no block.
  uint32_t* workerBeat();
  // The code the process is about to end with; nothing when the block names
  // another process by now (a successor that published itself).
  void announceEnd(uint32_t exitCode);

 private:
  LifeSigns() = default;
  LifeSignsBlock* block();
  UniqueHandle mapping_;
  UniqueMappedView view_;
};

// One pass of the worker: changes the beat, never to 0.
void beatOnce(uint32_t* beat);

// What the block says.
struct LifeSignsReading {
  uint32_t processId = 0;
  HWND window = nullptr;
  uint32_t workerBeat = 0;
  std::optional<uint32_t> announcedExit;
};

// The watchdog's side: a view of the block, held as long as the owner lives.
class LifeSignsView {
 public:
  // Empty when no Kantiq has made the block.
  static std::optional<LifeSignsView> open();
  std::optional<LifeSignsReading> read() const;

 private:
  LifeSignsView(UniqueHandle mapping, UniqueMappedView view)
      : mapping_(std::move(mapping)), view_(std::move(view)) {}
  UniqueHandle mapping_;
  UniqueMappedView view_;
};

// Opens, reads and lets go.
std::optional<LifeSignsReading> readLifeSigns();

// Whether a watchdog runs in this session.
bool watchdogRunning();

}  // namespace kantiq
