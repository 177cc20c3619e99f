#include "client/failure.h"

#include <cstdio>

namespace ombrix_tool {

int Fail(const std::string& sentence) {
  fprintf(stderr, "ombrix: %s\n", sentence.c_str());
  return kExitFailure;
}

int FailUsage(const std::string& sentence) {
  Fail(sentence);
  return kExitUsage;
}

void Hold(double seconds) {
  if (seconds < 0) {
    while (SleepUnlessStopped(1000)) {
    }
    return;
  }
  SleepUnlessStopped(static_cast<uint32_t>(seconds * 1000.0));
}

}  // namespace ombrix_tool
