// The bridge's state file reader on arbitrary files: a file it takes must
// write back to a file it takes again, giving the same state; anything else
// is refused with a reason and leaves the state as it was.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "node_state.h"

using namespace ombrix_bridge;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  NodeState state;
  state.shortName = "before";
  std::string error;
  if (!ParseNodeState(text, &state, &error)) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(state.shortName == "before" && state.outputs.empty());
    return 0;
  }
  std::string written = FormatNodeState(state);
  NodeState again;
  FUZZ_CHECK(ParseNodeState(written, &again, &error));
  FUZZ_CHECK(FormatNodeState(again) == written);
  return 0;
}
