#include "capture_log.h"

#include <time.h>

#include <cstdio>

namespace ombrix_capture {

void LogAs(const char* command, const std::string& text) {
  time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  char stamp[16];
  strftime(stamp, sizeof(stamp), "%H:%M:%S", &local);
  fprintf(stderr, "%s %s: %s\n", stamp, command, text.c_str());
  fflush(stderr);
}

}  // namespace ombrix_capture
