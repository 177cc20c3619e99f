#!/usr/bin/env bash
# The shared library exports the 24 API functions (and, for the simulator,
# the OmbrixSim* control functions) and nothing else: no C++ symbol leaks.
set -euo pipefail
library=$1
expect_sim=$2
api="CloseAllLinks CloseLink GetAllConnectedInterfaces GetAllOpenedInterfaces GetDeviceTyp
GetDeviceVersion GetInterfaceConfig OpenLink RegisterHeartbeatNotification
RegisterInputChangeBlockNotification RegisterInputChangeBlockNotificationSerial
RegisterInputChangeNotification RegisterInterfaceChangeNotification
RegisterInterfaceChangeNotificationSerial SendDmxUniverse SetInterfaceAdvTxConfig SetInterfaceMode
StoreInterfaceAdvTxConfig UnregisterHeartbeatNotification UnregisterInputChangeBlockNotification
UnregisterInputChangeBlockNotificationSerial UnregisterInputChangeNotification
UnregisterInterfaceChangeNotification UnregisterInterfaceChangeNotificationSerial"
exported=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtWwVvDdBbRr]$/ {print $3}' | sort)
missing=0
for name in $api; do
  grep -qx "$name" <<<"$exported" || { echo "missing export: $name"; missing=1; }
done
others=$(grep -vxF -f <(tr ' ' '\n' <<<"$api" | sed '/^$/d') <<<"$exported" || true)
if [ "$expect_sim" = sim ]; then
  others=$(grep -v '^OmbrixSim' <<<"$others" || true)
  grep -q '^OmbrixSimReset$' <<<"$exported" || { echo "missing OmbrixSimReset"; missing=1; }
fi
if [ -n "$others" ]; then
  echo "unexpected exports:"; echo "$others"; missing=1
fi
[ "$missing" -eq 0 ] && echo "exports of $(basename "$library"): $(wc -l <<<"$exported") names, as expected"
exit "$missing"
