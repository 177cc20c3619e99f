// Pure translations between what the hidraw driver hands over and what the
// rest of the library expects from the Win32 HID stack. No system calls, so
// they are tested on their own.
#ifndef OMBRIX_PLATFORM_HIDRAW_HIDRAW_CODEC_H
#define OMBRIX_PLATFORM_HIDRAW_HIDRAW_CODEC_H

#include <cstddef>
#include <cstdint>

namespace ombrix::hidraw {

// Converts the kernel's UTF-8 uniq string (USB string descriptors arrive
// as UTF-16 and the USB core hands them on as UTF-8) back to UTF-16 by
// hand, so the result never depends on the process locale. Ill-formed
// sequences (overlong forms, surrogates, values above U+10FFFF, truncated
// sequences) each become one U+FFFD. Stops at a NUL byte or after length
// bytes. Writes at most capacityUnits - 1 code units and a terminating NUL,
// never half a surrogate pair, and leaves the units after the NUL as they
// were. Returns the number of units written before the NUL.
size_t Utf8ToUtf16(const char* text, size_t length, uint16_t* out, size_t capacityUnits);

// True when the report descriptor declares a Report ID item: the device
// numbers its reports and hidraw then passes the ID byte through, as the
// Win32 stack does. Long items are skipped; a truncated item ends the scan.
bool DescriptorUsesReportIds(const uint8_t* descriptor, size_t length);

// Turns a report as read from hidraw into the Win32 form: for a device
// without numbered reports the driver strips the report ID 0, which is put
// back in front so that a full 33-byte report reads as 34 bytes on both
// systems. Returns the number of bytes stored in out, or 0 when the report
// does not fit in capacity: a cut report would be taken for a whole one.
uint32_t RestoreReportId(const uint8_t* received, size_t count, bool numberedReports, uint8_t* out, uint32_t capacity);

}  // namespace ombrix::hidraw

#endif  // OMBRIX_PLATFORM_HIDRAW_HIDRAW_CODEC_H
