// Windows: interfaces are not listed (yet), so --bind takes an address and
// the default is every address, as before; the first status line says so.
#include "network_choice.h"

namespace ombrix_bridge {

std::vector<NetworkInterfaceInfo> ListNetworkInterfaces() { return {}; }

std::string DefaultRouteInterface() { return {}; }

}  // namespace ombrix_bridge
