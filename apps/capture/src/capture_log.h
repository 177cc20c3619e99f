// One line on stderr, prefixed with the time of day and the command
// ("play:" or "record:"), as the bridge prints its own.
#ifndef OMBRIX_CAPTURE_CAPTURE_LOG_H
#define OMBRIX_CAPTURE_CAPTURE_LOG_H

#include <string>

namespace ombrix_capture {

void LogAs(const char* command, const std::string& text);

}  // namespace ombrix_capture

#endif  // OMBRIX_CAPTURE_CAPTURE_LOG_H
