#include "slot_priorities.h"

#include <cctype>
#include <charconv>
#include <string_view>

namespace ombrix_bridge {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

bool Number(std::string_view text, int low, int high, int* value) {
  text = Trim(text);
  if (text.empty()) return false;
  auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return failure == std::errc() && end == text.data() + text.size() && *value >= low && *value <= high;
}

}  // namespace

bool ParseSlotPriorities(const std::string& text, SlotPriorities* priorities, std::string* error) {
  SlotPriorities result{};
  std::array<bool, 512> named{};
  std::string_view rest = text;
  auto fail = [&](const std::string& why) {
    *error = "The slot priorities \"" + text + "\" " + why;
    return false;
  };
  if (Trim(rest).empty()) return fail("name no slots; write them as \"1-48:100, 49-512:0\".");
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string_view item = Trim(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    size_t colon = item.find(':');
    if (colon == std::string_view::npos)
      return fail("need RANGE:PRIORITY, as \"1-48:100\", at \"" + std::string(item) + "\".");
    std::string_view range = item.substr(0, colon);
    size_t dash = range.find('-');
    int first = 0, last = 0, priority = 0;
    bool slots = dash == std::string_view::npos
                     ? Number(range, 1, 512, &first) && (last = first, true)
                     : Number(range.substr(0, dash), 1, 512, &first) && Number(range.substr(dash + 1), 1, 512, &last);
    if (!slots || first > last)
      return fail("have a range that is not slots 1 to 512 in order: \"" + std::string(item) + "\".");
    if (!Number(item.substr(colon + 1), 0, 200, &priority)) {
      return fail("have a priority that is not 0 to 200: \"" + std::string(item) + "\".");
    }
    for (int slot = first; slot <= last; ++slot) {
      if (named[slot - 1]) return fail("name slot " + std::to_string(slot) + " twice.");
      named[slot - 1] = true;
      result[slot - 1] = static_cast<uint8_t>(priority);
    }
  }
  *priorities = result;
  return true;
}

}  // namespace ombrix_bridge
