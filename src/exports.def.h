/* The names the libraries export: the one list from which the ELF linker
   map, the Windows definition files, the tool's function table and the
   export checks are made (src/CMakeLists.txt, tests/check_exports.sh,
   apps/client/include/client/api.h). Each entry gives the name and the
   bytes of its arguments, which 32-bit Windows' stdcall decoration carries
   (OpenLink@12).

   Include it with the macros defined that the includer needs:
     OMBRIX_API_EXPORT(name, argument_bytes)  the 24 functions of ombrix_usb.h
     OMBRIX_SIM_EXPORT(name, argument_bytes)  the simulator's control API
   A macro left undefined drops its entries. One entry per line, in this
   form: the build and the checks read the file as text. */
#ifndef OMBRIX_API_EXPORT
#define OMBRIX_API_EXPORT(name, argument_bytes)
#endif
#ifndef OMBRIX_SIM_EXPORT
#define OMBRIX_SIM_EXPORT(name, argument_bytes)
#endif

OMBRIX_API_EXPORT(GetAllConnectedInterfaces, 4)
OMBRIX_API_EXPORT(GetDeviceTyp, 4)
OMBRIX_API_EXPORT(GetDeviceVersion, 4)
OMBRIX_API_EXPORT(OpenLink, 12)
OMBRIX_API_EXPORT(CloseLink, 4)
OMBRIX_API_EXPORT(CloseAllLinks, 0)
OMBRIX_API_EXPORT(GetAllOpenedInterfaces, 4)
OMBRIX_API_EXPORT(SendDmxUniverse, 8)
OMBRIX_API_EXPORT(SetInterfaceMode, 8)
OMBRIX_API_EXPORT(SetInterfaceAdvTxConfig, 32)
OMBRIX_API_EXPORT(StoreInterfaceAdvTxConfig, 4)
OMBRIX_API_EXPORT(GetInterfaceConfig, 32)
OMBRIX_API_EXPORT(RegisterInputChangeNotification, 4)
OMBRIX_API_EXPORT(UnregisterInputChangeNotification, 0)
OMBRIX_API_EXPORT(RegisterInputChangeBlockNotification, 4)
OMBRIX_API_EXPORT(UnregisterInputChangeBlockNotification, 0)
OMBRIX_API_EXPORT(RegisterInterfaceChangeNotification, 4)
OMBRIX_API_EXPORT(UnregisterInterfaceChangeNotification, 0)
OMBRIX_API_EXPORT(RegisterHeartbeatNotification, 8)
OMBRIX_API_EXPORT(UnregisterHeartbeatNotification, 4)
OMBRIX_API_EXPORT(RegisterInputChangeBlockNotificationSerial, 8)
OMBRIX_API_EXPORT(UnregisterInputChangeBlockNotificationSerial, 4)
OMBRIX_API_EXPORT(RegisterInterfaceChangeNotificationSerial, 8)
OMBRIX_API_EXPORT(UnregisterInterfaceChangeNotificationSerial, 4)

OMBRIX_SIM_EXPORT(OmbrixSimReset, 0)
OMBRIX_SIM_EXPORT(OmbrixSimAddDevice, 20)
OMBRIX_SIM_EXPORT(OmbrixSimSetDeviceSetAvailable, 4)
OMBRIX_SIM_EXPORT(OmbrixSimSetFault, 12)
OMBRIX_SIM_EXPORT(OmbrixSimUnplug, 4)
OMBRIX_SIM_EXPORT(OmbrixSimReplug, 4)
OMBRIX_SIM_EXPORT(OmbrixSimSetWriteBehaviour, 12)
OMBRIX_SIM_EXPORT(OmbrixSimSetReadBehaviour, 8)
OMBRIX_SIM_EXPORT(OmbrixSimInjectInput, 12)
OMBRIX_SIM_EXPORT(OmbrixSimStreamInput, 8)
OMBRIX_SIM_EXPORT(OmbrixSimWriteCount, 4)
OMBRIX_SIM_EXPORT(OmbrixSimGetWrite, 20)
OMBRIX_SIM_EXPORT(OmbrixSimClearWrites, 4)
OMBRIX_SIM_EXPORT(OmbrixSimWalkCount, 0)
OMBRIX_SIM_EXPORT(OmbrixSimOpenHandles, 4)
OMBRIX_SIM_EXPORT(OmbrixSimLibraryThreads, 0)
OMBRIX_SIM_EXPORT(OmbrixSimPendingTransfers, 4)
OMBRIX_SIM_EXPORT(OmbrixSimSetLoopback, 8)

#undef OMBRIX_API_EXPORT
#undef OMBRIX_SIM_EXPORT
