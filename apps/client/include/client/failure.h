// How a tool's command ends when it cannot go on, and how it waits out its
// hold time: shared by the CLI's commands and `ombrix bridge`, so that every
// mistake reads the same on stderr.
#ifndef OMBRIX_TOOL_FAILURE_H
#define OMBRIX_TOOL_FAILURE_H

#include <string>

#include "client/session.h"

namespace ombrix_tool {

// Prints an error sentence and returns kExitFailure.
int Fail(const std::string& sentence);
// The same for an argument the tool cannot use: returns kExitUsage.
int FailUsage(const std::string& sentence);

// Waits for the hold time (seconds < 0: until Ctrl-C).
void Hold(double seconds);

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_FAILURE_H
