// SendDmxUniverse: the producer side of a queue-mode link.
#include "ombrix_usb.h"
#include "output/frame_queue.h"
#include "registry/registry.h"

using namespace ombrix;

extern "C" OMBRIX_API int32_t OMBRIX_CALL SendDmxUniverse(const uint8_t* serial, const uint8_t* universe) {
  if (universe == nullptr) return 0;
  LinkRef link(serial);  // pinned: a concurrent CloseLink waits for the copy
  if (!link) return 0;
  if (link->outputUniverse != nullptr) return 0;
  // A full queue discards the universe; the caller still learns only that
  // the link exists and is fed through the queue.
  QueuePushFrame(*link.get(), universe);
  return 1;
}
