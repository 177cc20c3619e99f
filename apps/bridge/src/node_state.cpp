#include "node_state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ombrix_bridge {
namespace {

constexpr const char* kMagic = "ombrix-bridge-state 1";
constexpr const char* kHex = "0123456789abcdef";
// Far more than any node's state (a scene is 1 KiB); a larger file is not
// one of ours and is not read whole.
constexpr size_t kMaxStateBytes = 4 << 20;

// Names come from the network: every byte that is not printable ASCII, a
// space or '%' is written as %XX, so one name is one word on one line.
std::string Escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c > 0x20 && c < 0x7F && c != '%') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Unescape(std::string_view text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out->push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;  // "%" with fewer than two digits after it
    int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<char>(high << 4 | low));
    i += 2;
  }
  return true;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < line.size()) {
    size_t space = line.find(' ', at);
    if (space == std::string_view::npos) space = line.size();
    words.push_back(line.substr(at, space - at));
    at = space + 1;
  }
  return words;
}

bool Universe(std::string_view text, NetworkUniverse* universe) {
  std::string ignored;
  return ParseUniverse(std::string(text), universe, &ignored);
}

// One "output" or "input" line after its universe: a setting and its value.
bool OutputSetting(NodeState::Output& output, std::string_view key, std::string_view value) {
  if (key == "patch") {
    NetworkUniverse patch;
    if (!Universe(value, &patch)) return false;
    output.patch = patch;
    return true;
  }
  if (key == "merge") {
    ombrix::protocols::MergeMode mode;
    if (!ombrix::protocols::ParseMergeMode(value, &mode)) return false;
    output.merge = mode;
    return true;
  }
  if (key == "loss") {
    LossPolicy loss;
    if (!ParseLossPolicy(value, &loss)) return false;
    output.loss = loss;
    return true;
  }
  if (key == "scene" && value.size() == 1024) {
    std::array<uint8_t, 512> scene{};
    for (size_t i = 0; i < 512; ++i) {
      int high = HexDigit(value[2 * i]), low = HexDigit(value[2 * i + 1]);
      if (high < 0 || low < 0) return false;
      scene[i] = static_cast<uint8_t>(high << 4 | low);
    }
    output.scene = scene;
    return true;
  }
  return false;
}

bool ParseLine(std::string_view line, NodeState* state) {
  std::vector<std::string_view> words = Words(line);
  if (words.size() == 2 && (words[0] == "short-name" || words[0] == "long-name")) {
    return Unescape(words[1], words[0] == "short-name" ? &state->shortName : &state->longName);
  }
  if (words.size() != 4) return false;
  NetworkUniverse configured;
  if (!Universe(words[1], &configured)) return false;
  if (words[0] == "output") return OutputSetting(state->OutputFor(configured), words[2], words[3]);
  if (words[0] == "input" && words[2] == "patch") return Universe(words[3], &state->InputFor(configured).patch);
  return false;
}

}  // namespace

uint32_t Crc32(std::string_view bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

NodeState::Output& NodeState::OutputFor(const NetworkUniverse& configured) {
  for (Output& output : outputs) {
    if (output.configured == configured) return output;
  }
  outputs.push_back(Output{configured, {}, {}, {}, {}});
  return outputs.back();
}

NodeState::Input& NodeState::InputFor(const NetworkUniverse& configured) {
  for (Input& input : inputs) {
    if (input.configured == configured) return input;
  }
  inputs.push_back(Input{configured, configured});
  return inputs.back();
}

std::string FormatNodeState(const NodeState& state) {
  std::string body = std::string(kMagic) + "\n";
  if (!state.shortName.empty()) body += "short-name " + Escape(state.shortName) + "\n";
  if (!state.longName.empty()) body += "long-name " + Escape(state.longName) + "\n";
  for (const NodeState::Output& output : state.outputs) {
    std::string head = "output " + UniverseText(output.configured) + " ";
    if (output.patch) body += head + "patch " + UniverseText(*output.patch) + "\n";
    if (output.merge) body += head + "merge " + ombrix::protocols::MergeModeName(*output.merge) + "\n";
    if (output.loss) body += head + "loss " + LossPolicyName(*output.loss) + "\n";
    if (output.scene) {
      std::string hex;
      for (uint8_t level : *output.scene) hex += {kHex[level >> 4], kHex[level & 0x0F]};
      body += head + "scene " + hex + "\n";
    }
  }
  for (const NodeState::Input& input : state.inputs) {
    body += "input " + UniverseText(input.configured) + " patch " + UniverseText(input.patch) + "\n";
  }
  char end[48];
  snprintf(end, sizeof(end), "end %zu %08x\n", body.size(), static_cast<unsigned>(Crc32(body)));
  return body + end;
}

bool ParseNodeState(std::string_view text, NodeState* state, std::string* error) {
  // The last line first: it vouches for everything before it.
  size_t endLine = text.size() >= 2 ? text.rfind('\n', text.size() - 2) : std::string_view::npos;
  if (text.empty() || text.back() != '\n' || endLine == std::string_view::npos) {
    *error = "it is cut short (no closing line)";
    return false;
  }
  std::string_view body = text.substr(0, endLine + 1);
  std::string closing(text.substr(endLine + 1));
  unsigned long long length = 0;
  unsigned crc = 0;
  char expected[48] = "";
  if (sscanf(closing.c_str(), "end %llu %8x", &length, &crc) == 2) {
    snprintf(expected, sizeof(expected), "end %llu %08x\n", length, crc);
  }
  if (closing != expected) {
    *error = "it is cut short or changed (its closing line is not \"end LENGTH CRC\")";
    return false;
  }
  if (length != body.size() || crc != Crc32(body)) {
    *error = "its length or checksum does not match its contents (cut short or changed)";
    return false;
  }
  if (body.substr(0, body.find('\n')) != kMagic) {
    *error = "it does not start with \"" + std::string(kMagic) + "\"";
    return false;
  }
  NodeState parsed;
  size_t at = body.find('\n') + 1;
  for (int number = 2; at < body.size(); ++number) {
    size_t newline = body.find('\n', at);
    std::string_view line = body.substr(at, newline - at);
    if (!ParseLine(line, &parsed)) {
      *error = "line " + std::to_string(number) + " is not a setting this bridge knows";
      return false;
    }
    at = newline + 1;
  }
  *state = std::move(parsed);
  return true;
}

bool LoadNodeState(const std::string& path, NodeState* state, std::string* error) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) {
    // A node that never had a remote change has no file yet.
    if (errno == ENOENT) return true;
    *error = "The state file " + path + " could not be read (" + strerror(errno) +
             "); it is ignored and the configuration applies as it is.";
    return false;
  }
  std::string contents;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0 && contents.size() < kMaxStateBytes) {
    contents.append(buffer, got);
  }
  bool failed = ferror(file) != 0;
  fclose(file);
  std::string why = failed ? "it could not be read to the end" : "";
  if (failed || !ParseNodeState(contents, state, &why)) {
    *error = "The state file " + path + " is damaged (" + why +
             "); it is ignored as a whole and the configuration applies as it is.";
    return false;
  }
  return true;
}

bool SaveNodeState(const std::string& path, const NodeState& state, std::string* error) {
  return ReplaceFileDurably(path, FormatNodeState(state), error);
}

}  // namespace ombrix_bridge
