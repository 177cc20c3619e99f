#include "client/link_guard.h"

namespace ombrix_tool {

bool LinkGuard::Open(Universe* output, Universe* input, std::string* error) {
  if (!CheckAttached(api_, serial_, error)) return false;
  if (api_.OpenLink(key(), output ? output->bytes : nullptr, input ? input->bytes : nullptr) != 1) {
    *error = "The interface " + SerialText(serial_) +
             " is attached but could not be opened (is it in use, or are its permissions too strict?).";
    return false;
  }
  open_ = true;
  return true;
}

bool LinkGuard::SetMode(int mode, std::string* error) {
  if (mode < 0 || mode > 255) {
    *error = "The mode " + std::to_string(mode) + " is out of range; modes are 0 to 255.";
    return false;
  }
  if (api_.SetInterfaceMode(key(), mode) != 1) {
    *error = "The link to " + SerialText(serial_) + " closed before the mode was taken up.";
    return false;
  }
  return true;
}

void LinkGuard::Close() {
  if (!open_) return;
  api_.CloseLink(key());
  open_ = false;
}

}  // namespace ombrix_tool
