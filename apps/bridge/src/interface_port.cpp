#include "interface_port.h"

#include <algorithm>

namespace ombrix_bridge {
namespace {

// The library's callbacks carry a link id and no user pointer, so ports are
// found through this table. A slot's port is set by the bridge thread before
// its link opens and cleared after the link has closed (when no callback of
// that link can run any more); the id changes with every open.
constexpr int kSlots = 64;
struct CallbackSlot {
  std::atomic<int32_t> linkId{0};
  std::atomic<InterfacePort*> port{nullptr};
};
CallbackSlot g_slots[kSlots];

InterfacePort* FindPort(int32_t linkId) {
  for (CallbackSlot& slot : g_slots) {
    if (slot.linkId.load(std::memory_order_acquire) == linkId) return slot.port.load(std::memory_order_acquire);
  }
  return nullptr;
}

// I/O thread.
void OMBRIX_CALL OnInputBlockCallback(int32_t linkId, uint32_t block) {
  if (InterfacePort* port = FindPort(linkId)) port->OnInputBlock(block);
}

// Event thread.
void OMBRIX_CALL OnInterfaceChangeCallback(int32_t linkId) {
  if (InterfacePort* port = FindPort(linkId)) port->OnFailure();
}

}  // namespace

InterfacePort::InterfacePort(const Api& api, const Serial& serial, int mode, bool drivesOutput, bool readsInput,
                             std::function<void()> wake)
    : api_(api),
      serial_(serial),
      mode_(mode),
      drivesOutput_(drivesOutput),
      readsInput_(readsInput),
      wake_(std::move(wake)) {
  for (int i = 0; i < kSlots && slot_ < 0; ++i) {
    InterfacePort* empty = nullptr;
    if (g_slots[i].port.compare_exchange_strong(empty, this)) slot_ = i;
  }
}

InterfacePort::~InterfacePort() {
  Close();
  if (slot_ >= 0) g_slots[slot_].port.store(nullptr, std::memory_order_release);
}

bool InterfacePort::TryOpen(std::string* why) {
  if (open_) return true;
  if (slot_ < 0) {
    *why = "more than 64 interfaces";
    return false;
  }
  std::string error;
  if (!ombrix_tool::CheckAttached(api_, serial_, &error)) {
    *why = "not attached";
    return false;
  }
  const uint8_t* key = serial_.data();
  if (api_.OpenLink(key, drivesOutput_ ? output_.bytes : nullptr, readsInput_ ? input_.bytes : nullptr) != 1) {
    *why = "attached but could not be opened (in use, or permissions too strict?)";
    return false;
  }
  open_ = true;
  failed_.store(false);
  int32_t linkId = api_.RegisterInputChangeBlockNotificationSerial(key, OnInputBlockCallback);
  api_.RegisterInterfaceChangeNotificationSerial(key, OnInterfaceChangeCallback);
  g_slots[slot_].linkId.store(linkId, std::memory_order_release);
  if (mode_ != 0 && api_.SetInterfaceMode(key, mode_) != 1) {
    Close();
    *why = "closed while its mode was being set";
    return false;
  }
  // Blocks that arrived before the callback was in place are sent as well.
  if (readsInput_) changedInput_.store(0xFFFF);
  return true;
}

bool InterfacePort::CloseIfFailed() {
  if (!open_ || !failed_.load()) return false;
  Close();
  return true;
}

void InterfacePort::Close() {
  if (!open_) return;
  api_.CloseLink(serial_.data());
  g_slots[slot_].linkId.store(0, std::memory_order_release);
  open_ = false;
  failed_.store(false);
}

void InterfacePort::WriteOutput(const uint8_t levels[512]) {
  uint32_t changed = 0;
  for (int i = 0; i < 512; ++i) {
    if (output_.Load(i) == levels[i]) continue;
    output_.Store(i, levels[i]);
    changed |= 1u << (i / 32);
  }
  blocksChanged_ += static_cast<uint64_t>(__builtin_popcount(changed));
}

uint16_t InterfacePort::TakeChangedInput() { return static_cast<uint16_t>(changedInput_.exchange(0)); }

void InterfacePort::ReadInput(uint8_t levels[512]) const {
  for (int i = 0; i < 512; ++i) levels[i] = input_.Load(i);
}

void InterfacePort::OnInputBlock(uint32_t block) {
  if (block >= 16) return;
  inputBlocks_.fetch_add(1, std::memory_order_relaxed);
  if (changedInput_.fetch_or(1u << block) == 0) wake_();
}

void InterfacePort::OnFailure() {
  if (!failed_.exchange(true)) wake_();
}

}  // namespace ombrix_bridge
