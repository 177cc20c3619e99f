/*
 * ombrix_usb.h - public interface of the Ombrix_USB library.
 *
 * Ombrix_USB drives a family of USB DMX512 interfaces that present themselves
 * as HID devices (vendor 0x16D0, products 0x0754, 0x0830, 0x0832, 0x0833).
 * An application lists the attached interfaces by their 16-byte serials,
 * opens links to them, streams 512-channel universes out, receives DMX input
 * into a buffer of its own, sets each interface's mode and transmit
 * configuration, and registers callbacks.
 *
 * Conventions that hold for every function below:
 *  - A serial is always a pointer to 16 raw bytes (no terminator). Serials are
 *    compared byte for byte, bytes after a NUL included.
 *  - A serial list is a caller buffer of 32 slots x 16 bytes (512 bytes).
 *    Every slot is first set to "0000000000000000" (16 ASCII '0'), then
 *    slots 0, 1, 2 ... are filled without gaps.
 *  - A universe is 512 bytes; channel n is byte n - 1.
 *  - Per-interface functions return 1 on success and 0 when no open link has
 *    the serial. A null serial pointer is treated as a serial that is not
 *    found: the function returns 0 (or writes nothing) and never crashes.
 *  - Device errors never appear in a result: a transfer that fails becomes an
 *    interface-change callback, one per failed transfer. Transfers that
 *    cannot even start (the interface is gone) make one callback between
 *    them, until a transfer in the same direction (a read, or a write) of
 *    that link succeeds again, so an unplug is reported even when none of
 *    its transfers was outstanding, and a link whose reads cannot start is
 *    reported once however many of its writes succeed.
 *
 * Threads. The library runs two threads of its own while at least one link
 * is open: the I/O thread, which performs every transfer and calls the two
 * input-block callbacks, and the event thread, which calls the InputChange,
 * InterfaceChange and Heartbeat callbacks. A callback must return quickly:
 * while it runs, the I/O of every link may be held up.
 *
 * Functions that wait for the library threads (OpenLink, CloseLink,
 * CloseAllLinks and the twelve registration functions) must not be called
 * from a callback: they would wait for the very thread that runs it. Called
 * from a library thread they return 0 at once and do nothing. The library
 * serialises concurrent calls of these functions from different application
 * threads.
 */
#ifndef OMBRIX_USB_H
#define OMBRIX_USB_H

#include <stdint.h>

/* Calling convention of every export and every callback: stdcall on 32-bit
 * Windows (arguments removed by the called function), the platform default
 * elsewhere. */
#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define OMBRIX_CALL __stdcall
#else
#define OMBRIX_CALL
#endif

#if defined(_WIN32)
#define OMBRIX_API
#elif defined(__GNUC__)
#define OMBRIX_API __attribute__((visibility("default")))
#else
#define OMBRIX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Callback types ---------------------------------------------------- */

/* Input of some link has changed: after every 16 input blocks stored, or
 * after a quiet spell that followed at least one block. Event thread. */
typedef void(OMBRIX_CALL* InputChangeCallback)(void);

/* One input block (blockIndex 0..15, channels 32*blockIndex+1 .. +32) has
 * just been stored in some link's input buffer. I/O thread: keep it short,
 * every link's transfers wait while it runs. */
typedef void(OMBRIX_CALL* InputChangeBlockCallback)(uint32_t blockIndex);

/* A transfer to or from some interface failed (typically: it was
 * unplugged). Event thread. */
typedef void(OMBRIX_CALL* InterfaceChangeCallback)(void);

/* An interface sent a heartbeat or its configuration, or its input changed
 * (called right after InputChangeCallback). linkId tells which link.
 * Event thread. */
typedef void(OMBRIX_CALL* HeartbeatCallback)(int32_t linkId);

/* Per-link input block: as InputChangeBlockCallback, with the link's id.
 * I/O thread, right after the process-wide input-block callback. */
typedef void(OMBRIX_CALL* InputChangeBlockSerialCallback)(int32_t linkId, uint32_t blockIndex);

/* Per-link interface change: a transfer of this link failed. Event thread,
 * right after the process-wide interface-change callback. */
typedef void(OMBRIX_CALL* InterfaceChangeSerialCallback)(int32_t linkId);

/* ---- Discovery ---------------------------------------------------------- */

/* Fills serialList (512 bytes) with the serials of the attached interfaces
 * of the family, in enumeration order, at most 32. Interfaces whose serial
 * string cannot be read are not listed; one with an empty serial string is
 * listed (its slot starts with a 0 byte). A null serialList does nothing. */
OMBRIX_API void OMBRIX_CALL GetAllConnectedInterfaces(uint8_t* serialList);

/* Type code of the attached interface with this serial: 1 for products
 * 0x0754 and 0x0830, 2 for 0x0832, 3 for 0x0833; 0 when none is attached. */
OMBRIX_API int32_t OMBRIX_CALL GetDeviceTyp(const uint8_t* serial);

/* Release number (bcdDevice) of the interface with this serial: taken from
 * the open link when there is one (even if the device has since gone), else
 * read from the attached device; 0 when none is found. */
OMBRIX_API int32_t OMBRIX_CALL GetDeviceVersion(const uint8_t* serial);

/* ---- Links -------------------------------------------------------------- */

/* Opens a link to the interface with this serial and sets it to mode 0.
 * outputUniverse: 512-byte buffer the library polls and sends from (changed
 *   blocks only), or null to feed the link with SendDmxUniverse instead.
 * inputUniverse: 512-byte buffer that receives DMX input (cleared here), or
 *   null.
 * Both buffers stay owned by the caller and must stay valid until the link
 * is closed. An interface whose serial string cannot be read is taken for
 * any serial. Returns 1 when a link for the serial is open on return (an
 * already open link is kept as it is, with its own buffers), 0 when no
 * interface could be opened (after four walks over the devices). */
OMBRIX_API int32_t OMBRIX_CALL OpenLink(const uint8_t* serial, uint8_t* outputUniverse, uint8_t* inputUniverse);

/* Sends mode 0 to the interface, stops the link's transfers and frees the
 * link. Returns 1 when it was closed, 0 when no link has the serial. When
 * the last link closes, both library threads have ended on return. */
OMBRIX_API int32_t OMBRIX_CALL CloseLink(const uint8_t* serial);

/* Closes every link except those whose serial is 16 zero bytes. Returns 1
 * when every close succeeded (also with no link at all), else 0. */
OMBRIX_API int32_t OMBRIX_CALL CloseAllLinks(void);

/* Fills serialList (512 bytes) with the serials of the open links, oldest
 * first, at most 32. A null serialList does nothing. */
OMBRIX_API void OMBRIX_CALL GetAllOpenedInterfaces(uint8_t* serialList);

/* ---- Output ------------------------------------------------------------- */

/* Queues a copy of universe (512 bytes) for a link opened without an output
 * buffer. The I/O thread sends the newest queued universe in full and drops
 * older ones; at most four wait, and a universe offered to a full queue is
 * discarded (the call still returns 1). Returns 0 when no link has the
 * serial, when the link polls an output buffer, or when universe is null.
 * The buffer may be reused as soon as the call returns.
 * Any thread, also several at once for the same link: each universe is
 * queued whole, so every frame sent is exactly one universe some caller
 * passed. Calls for one link are serialised by a short lock held only for
 * the 512-byte copy; a single sending thread never waits on it. */
OMBRIX_API int32_t OMBRIX_CALL SendDmxUniverse(const uint8_t* serial, const uint8_t* universe);

/* ---- Configuration ------------------------------------------------------ */

/* Sets the interface's operating mode (low 8 bits of mode). DMX output is
 * sent in modes 2, 3, 6 and 7. Returns 1 once the I/O thread has taken the
 * mode up (at once when it is already active), 0 when no link has the
 * serial or the link is closed while the call waits. Called from a
 * callback, it leaves the request and returns 1 without waiting. */
OMBRIX_API int32_t OMBRIX_CALL SetInterfaceMode(const uint8_t* serial, int32_t mode);

/* Leaves an advanced transmit configuration command for the interface and
 * withdraws a store request that has not gone out yet. Only the low byte of
 * each parameter travels; the cache read by GetInterfaceConfig keeps their
 * low 16 bits, with length 512 and final byte 0. length and finalByte are
 * accepted but not used. Returns 1, or 0 when no link has the serial. */
OMBRIX_API int32_t OMBRIX_CALL SetInterfaceAdvTxConfig(const uint8_t* serial, int32_t byteValue, int32_t param1,
                                                       int32_t param2, int32_t param3, int32_t param4, int32_t length,
                                                       int32_t finalByte);

/* Asks the interface to store its configuration (sent after a pending
 * configuration command). Returns 1, or 0 when no link has the serial. */
OMBRIX_API int32_t OMBRIX_CALL StoreInterfaceAdvTxConfig(const uint8_t* serial);

/* Copies the cached configuration: what this library last set, or what the
 * interface last reported, whichever came last; all zero after opening. The
 * seven values always come from one report or one set call. Null
 * destinations are skipped. Returns 1, or 0 when no link has the serial. */
OMBRIX_API int32_t OMBRIX_CALL GetInterfaceConfig(const uint8_t* serial, uint8_t* byteValue, uint16_t* param1,
                                                  uint16_t* param2, uint16_t* param3, uint16_t* param4,
                                                  uint16_t* length, uint16_t* finalByte);

/* ---- Notifications ------------------------------------------------------ */

/* Process-wide callbacks: they apply to every link, now and later, and
 * survive the closing of every link. Registering null unregisters. Each
 * returns 1 (0 only when called from a library thread). While links are
 * open, the call waits until every link has been parked, so that no library
 * thread runs the old callback once it returns. */
OMBRIX_API int32_t OMBRIX_CALL RegisterInputChangeNotification(InputChangeCallback callback);
OMBRIX_API int32_t OMBRIX_CALL UnregisterInputChangeNotification(void);
OMBRIX_API int32_t OMBRIX_CALL RegisterInputChangeBlockNotification(InputChangeBlockCallback callback);
OMBRIX_API int32_t OMBRIX_CALL UnregisterInputChangeBlockNotification(void);
OMBRIX_API int32_t OMBRIX_CALL RegisterInterfaceChangeNotification(InterfaceChangeCallback callback);
OMBRIX_API int32_t OMBRIX_CALL UnregisterInterfaceChangeNotification(void);

/* The heartbeat callback is process-wide but registered through an open
 * interface that supports heartbeats: products 0x0832 and 0x0833 always,
 * 0x0754 and 0x0830 from release 0x0106 on. Returns the link's id, or 0
 * when no link has the serial or the interface does not qualify (the
 * earlier callback is then kept). Unregister returns 1, or 0 when no link
 * has the serial. While the slot changes, other links may still call the
 * previous callback once more. */
OMBRIX_API int32_t OMBRIX_CALL RegisterHeartbeatNotification(const uint8_t* serial, HeartbeatCallback callback);
OMBRIX_API int32_t OMBRIX_CALL UnregisterHeartbeatNotification(const uint8_t* serial);

/* Per-link callbacks: they live and die with the link (a reopened interface
 * starts without them). Register returns the link's id (never 0), also when
 * callback is null; Unregister returns 1. Both return 0 when no link has the
 * serial. */
OMBRIX_API int32_t OMBRIX_CALL RegisterInputChangeBlockNotificationSerial(const uint8_t* serial,
                                                                          InputChangeBlockSerialCallback callback);
OMBRIX_API int32_t OMBRIX_CALL UnregisterInputChangeBlockNotificationSerial(const uint8_t* serial);
OMBRIX_API int32_t OMBRIX_CALL RegisterInterfaceChangeNotificationSerial(const uint8_t* serial,
                                                                         InterfaceChangeSerialCallback callback);
OMBRIX_API int32_t OMBRIX_CALL UnregisterInterfaceChangeNotificationSerial(const uint8_t* serial);

#ifdef __cplusplus
}
#endif

#endif /* OMBRIX_USB_H */
