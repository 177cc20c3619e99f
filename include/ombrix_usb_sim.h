/*
 * ombrix_usb_sim.h - control API of the simulated interfaces.
 *
 * The simulator library (libombrix_usb_sim.so, Ombrix_USB_Sim.dll) exports
 * the same 24 functions as the real library, over simulated HID devices
 * instead of real ones, plus the functions below to script those devices.
 * Link it instead of the real library to test an application without
 * hardware.
 *
 * Every function may be called from any thread. Results are 1 for success
 * and 0 for failure unless stated. A device is named by the id that
 * OmbrixSimAddDevice returned; an unknown id fails.
 */
#ifndef OMBRIX_USB_SIM_H
#define OMBRIX_USB_SIM_H

#include "ombrix_usb.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Steps of the device walk that OmbrixSimSetFault can make fail. */
#define OMBRIX_SIM_STEP_DETAIL 1     /* fetching the interface detail (path) */
#define OMBRIX_SIM_STEP_OPEN 2       /* opening the device path */
#define OMBRIX_SIM_STEP_ATTRIBUTES 3 /* reading the HID attributes */
#define OMBRIX_SIM_STEP_PREPARSED 4  /* getting the preparsed data */
#define OMBRIX_SIM_STEP_CAPS 5       /* capabilities report other than success */

/* Write behaviours (OmbrixSimSetWriteBehaviour). */
#define OMBRIX_SIM_WRITE_COMPLETE 0   /* complete with all bytes delayMicros after start */
#define OMBRIX_SIM_WRITE_NEVER 1      /* stay pending until cancelled */
#define OMBRIX_SIM_WRITE_FAIL 2       /* complete with failure */
#define OMBRIX_SIM_WRITE_ZERO_BYTES 3 /* complete successfully with 0 bytes */
#define OMBRIX_SIM_WRITE_REFUSE 4     /* fail to start */
#define OMBRIX_SIM_WRITE_FRAMED                        \
  5 /* complete with all bytes at the next tick of the \
       device's frame clock (see below) */

/* Read behaviours (OmbrixSimSetReadBehaviour). */
#define OMBRIX_SIM_READ_NORMAL 0 /* deliver injected and streamed input */
#define OMBRIX_SIM_READ_FAIL 1   /* outstanding and later reads complete with failure */
#define OMBRIX_SIM_READ_REFUSE 2 /* reads fail to start */

/* Removes every simulated device, clears every counter and setting and makes
 * the device set available. Returns 0 and changes nothing while any link
 * (any device handle) is open. */
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimReset(void);

/* Appends a device to the enumeration order; returns its id (1, 2, 3 ...
 * counting from the last reset), 0 on failure. serial holds serialUnits
 * UTF-16 code units (0: empty string); a negative serialUnits means the
 * serial-number string cannot be read. Any vendor and product is accepted. */
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimAddDevice(uint16_t vendorId, uint16_t productId, uint16_t releaseNumber,
                                                  const uint16_t* serial, int32_t serialUnits);

/* 0: the set of present device interfaces cannot be obtained (every walk
 * ends at once); 1 restores it. */
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimSetDeviceSetAvailable(int32_t available);

/* Makes one step of the walk (OMBRIX_SIM_STEP_*) fail for that device while
 * fails is 1; 0 lets it succeed again. */
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimSetFault(int32_t device, int32_t step, int32_t fails);

/* Unplug: the device leaves the enumeration, every outstanding transfer on
 * it completes with failure, every later transfer on an existing handle
 * fails to start. Replug: present again at its old place in the order; old
 * handles stay dead, a new open works. */
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimUnplug(int32_t device);
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimReplug(int32_t device);

/* How the device treats writes from now on (OMBRIX_SIM_WRITE_*).
 *
 * delayMicros applies to OMBRIX_SIM_WRITE_COMPLETE, where a write completes
 * that long after it started, and to OMBRIX_SIM_WRITE_FRAMED, where it is
 * the period of the device's frame clock: the clock ticks whenever the
 * simulator's clock (the steady clock of OmbrixSimGetWrite) reaches a whole
 * multiple of delayMicros, and a write completes at the first tick after it
 * started. With 1000 that is a full-speed interface served once per 1 ms USB
 * frame: it takes at most one report per frame, and the time the host needs
 * between a completion and its next write costs nothing as long as the write
 * starts within the same frame. OMBRIX_SIM_WRITE_COMPLETE with 1000 instead
 * adds that hand-over time to every report. A delay of 0 completes writes at
 * once under either behaviour. */
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimSetWriteBehaviour(int32_t device, int32_t behaviour, uint32_t delayMicros);

/* How the device treats reads from now on (OMBRIX_SIM_READ_*). */
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimSetReadBehaviour(int32_t device, int32_t behaviour);

/* Queues one input report exactly as a read delivers it, report ID byte
 * first: 34 bytes is a full report, fewer models a short read (at most 34).
 * Reports reach reads in order; an outstanding read completes at once. */
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimInjectInput(int32_t device, const uint8_t* report, uint32_t length);

/* The device sends a full input block report every intervalMicros, blocks 0
 * to 15 in turn, with values that change from universe to universe; 0 stops
 * it. */
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimStreamInput(int32_t device, uint32_t intervalMicros);

/* The log of every write the device accepted (started), asynchronous or
 * synchronous, oldest first. OmbrixSimGetWrite copies write index into
 * buffer (up to capacity bytes) and returns its length, 0 when there is no
 * such write; startMicros (may be null) receives the start time in
 * microseconds on the steady clock (CLOCK_MONOTONIC on Linux). Clearing
 * empties the log and restarts the count at 0. */
OMBRIX_API uint32_t OMBRIX_CALL OmbrixSimWriteCount(int32_t device);
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimGetWrite(int32_t device, uint32_t index, uint8_t* buffer, uint32_t capacity,
                                                 uint64_t* startMicros);
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimClearWrites(int32_t device);

/* Walks of the device set started since the last reset (each discovery walk
 * and each open scan counts one). */
OMBRIX_API uint32_t OMBRIX_CALL OmbrixSimWalkCount(void);

/* Handles currently open on the device. */
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimOpenHandles(int32_t device);

/* ---- Additions beyond the fixed set above ------------------------------- */

/* Number of the library's own threads (I/O and event thread) that are
 * running now: 0 when no link is open and the last close has finished. */
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimLibraryThreads(void);

/* Outstanding transfers (reads plus writes) on the device's handles that
 * the device has not completed yet. */
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimPendingTransfers(int32_t device);

/* A cable from the device's DMX output to its DMX input. While enabled is
 * 1, every DMX block report the device takes in (a 34-byte write whose type
 * byte, the one after the report ID, is 0x00-0x0F or 0x20-0x2F, under
 * OMBRIX_SIM_WRITE_COMPLETE) comes back as a full input block report: type
 * 0x00-0x0F with the same block number, the same 32 data bytes. It is
 * delivered as the write starts, in write order, like OmbrixSimInjectInput.
 * Other reports (mode, configuration) do not come back. 0 turns it off;
 * OmbrixSimReset removes it with the device. */
OMBRIX_API int32_t OMBRIX_CALL OmbrixSimSetLoopback(int32_t device, int32_t enabled);

#ifdef __cplusplus
}
#endif

#endif /* OMBRIX_USB_SIM_H */
