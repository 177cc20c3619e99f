// `ombrix record` and `ombrix play`: their options and entry points.
#ifndef OMBRIX_CAPTURE_CAPTURE_COMMAND_H
#define OMBRIX_CAPTURE_CAPTURE_COMMAND_H

#include <CLI/CLI.hpp>

#include "player.h"
#include "recorder.h"

namespace ombrix_capture {

CLI::App* AddRecordCommand(CLI::App& app, RecordOptions* options);
CLI::App* AddPlayCommand(CLI::App& app, PlayOptions* options);

}  // namespace ombrix_capture

#endif  // OMBRIX_CAPTURE_CAPTURE_COMMAND_H
