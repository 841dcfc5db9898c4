#include "win32/life_signs_win.h"

#include <atomic>

namespace kantiq {
namespace {

std::atomic_ref<uint32_t> shared(uint32_t& value) { return std::atomic_ref<uint32_t>(value); }

}  // namespace

LifeSigns& LifeSigns::process() {
  static LifeSigns signs;
  return signs;
}

LifeSignsBlock* LifeSigns::block() { return static_cast<LifeSignsBlock*>(view_.get()); }

void LifeSigns::publish(HWND window) {
  if (!mapping_) {
    mapping_.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LifeSignsBlock),
                                        kLifeSignsName));
    if (!mapping_) return;
    view_.reset(::MapViewOfFile(mapping_.get(), FILE_MAP_WRITE, 0, 0, sizeof(LifeSignsBlock)));
  }
  LifeSignsBlock* b = block();
  if (b == nullptr) return;
  // A block a watchdog still holds belonged to an earlier Kantiq: all of it
  // is written again, the magic last.
  shared(b->magic).store(0);
  b->processId = ::GetCurrentProcessId();
  b->window = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window));
  shared(b->workerBeat).store(0);
  b->exitCode = 0;
  shared(b->endAnnounced).store(0);
  b->reserved = 0;
  shared(b->magic).store(kLifeSignsMagic, std::memory_order_release);
}

uint32_t* LifeSigns::workerBeat() {
  LifeSignsBlock* b = block();
  return b != nullptr ? &b->workerBeat : nullptr;
}

void LifeSigns::announceEnd(uint32_t exitCode) {
  LifeSignsBlock* b = block();
  if (b == nullptr) return;
  // A successor started while this process was closing (the hand-over
  // without a watchdog) has published itself in the same block: the end
  // announced here is not its end.
  if (b->processId != ::GetCurrentProcessId()) return;
  b->exitCode = exitCode;
  shared(b->endAnnounced).store(1, std::memory_order_release);
}

void beatOnce(uint32_t* beat) {
  if (beat == nullptr) return;
  const std::atomic_ref<uint32_t> counter = shared(*beat);
  const uint32_t next = counter.load(std::memory_order_relaxed) + 1;
  counter.store(next == 0 ? 1 : next, std::memory_order_relaxed);
}

std::optional<LifeSignsView> LifeSignsView::open() {
  UniqueHandle mapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, kLifeSignsName));
  if (!mapping) return std::nullopt;
  UniqueMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, sizeof(LifeSignsBlock)));
  if (!view) return std::nullopt;
  return LifeSignsView(std::move(mapping), std::move(view));
}

std::optional<LifeSignsReading> LifeSignsView::read() const {
  auto* b = static_cast<LifeSignsBlock*>(view_.get());
  if (shared(b->magic).load(std::memory_order_acquire) != kLifeSignsMagic) return std::nullopt;
  LifeSignsReading reading;
  reading.processId = b->processId;
  reading.window = reinterpret_cast<HWND>(static_cast<uintptr_t>(b->window));
  reading.workerBeat = shared(b->workerBeat).load(std::memory_order_relaxed);
  if (shared(b->endAnnounced).load(std::memory_order_acquire) != 0) reading.announcedExit = b->exitCode;
  return reading;
}

std::optional<LifeSignsReading> readLifeSigns() {
  const std::optional<LifeSignsView> view = LifeSignsView::open();
  return view ? view->read() : std::nullopt;
}

bool watchdogRunning() {
  return UniqueHandle(::OpenMutexA(SYNCHRONIZE, FALSE, kWatchdogMutexName)).valid();
}

}  // namespace kantiq
