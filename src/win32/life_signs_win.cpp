#include "win32/life_signs_win.h"

#include <atomic>

namespace kantiq {
namespace {

std::atomic_ref<uint32_t> shared(uint32_t& value) { return std::atomic_ref<uint32_t>(value); }

}  // namespace

LifeSigns::LifeSigns(HWND window)
    : mapping_(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LifeSignsBlock),
                                    kLifeSignsName)) {
  if (!mapping_) return;
  view_.reset(::MapViewOfFile(mapping_.get(), FILE_MAP_WRITE, 0, 0, sizeof(LifeSignsBlock)));
  if (!view_) return;
  // A block left open by a reader belonged to an earlier Kantiq: all of it is
  // written again, the magic last.
  auto* block = static_cast<LifeSignsBlock*>(view_.get());
  shared(block->magic).store(0);
  block->processId = ::GetCurrentProcessId();
  block->window = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window));
  shared(block->workerBeat).store(0);
  block->reserved = 0;
  shared(block->magic).store(kLifeSignsMagic, std::memory_order_release);
}

uint32_t* LifeSigns::workerBeat() {
  return view_ ? &static_cast<LifeSignsBlock*>(view_.get())->workerBeat : nullptr;
}

void beatOnce(uint32_t* beat) {
  if (beat == nullptr) return;
  const std::atomic_ref<uint32_t> counter = shared(*beat);
  const uint32_t next = counter.load(std::memory_order_relaxed) + 1;
  counter.store(next == 0 ? 1 : next, std::memory_order_relaxed);
}

std::optional<LifeSignsReading> readLifeSigns() {
  const UniqueHandle mapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, kLifeSignsName));
  if (!mapping) return std::nullopt;
  const UniqueMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, sizeof(LifeSignsBlock)));
  if (!view) return std::nullopt;
  auto* block = static_cast<LifeSignsBlock*>(view.get());
  if (shared(block->magic).load(std::memory_order_acquire) != kLifeSignsMagic) return std::nullopt;
  LifeSignsReading reading;
  reading.processId = block->processId;
  reading.window = reinterpret_cast<HWND>(static_cast<uintptr_t>(block->window));
  reading.workerBeat = shared(block->workerBeat).load(std::memory_order_relaxed);
  return reading;
}

bool watchdogRunning() {
  return UniqueHandle(::OpenMutexA(SYNCHRONIZE, FALSE, kWatchdogMutexName)).valid();
}

}  // namespace kantiq
