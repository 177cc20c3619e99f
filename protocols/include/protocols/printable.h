// Text received from the network made safe to print: a source name may hold
// anything, and a status line must not carry terminal control sequences.
// Internal to the trackers.
#ifndef OMBRIX_PROTOCOLS_PRINTABLE_H
#define OMBRIX_PROTOCOLS_PRINTABLE_H

#include <string>
#include <string_view>

namespace ombrix::protocols {

// Valid UTF-8 is kept except control characters (C0, DEL, C1); every
// control character and every byte of an invalid sequence becomes '?'.
std::string PrintableText(std::string_view text);

}  // namespace ombrix::protocols

#endif  // OMBRIX_PROTOCOLS_PRINTABLE_H
