// Written by hand, field by field, rather than through a JSON tree: a
// snapshot of 32 universes holds 32 768 levels and owners, and a tree of
// that many values cost the bridge more than everything else the page does.
// nlohmann's serializer escapes every string, so text from the network
// always comes out as one valid JSON string.
#include "status_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace ombrix_bridge {
namespace {

using ombrix::protocols::DropKind;
using ombrix::protocols::DropKindName;

class Writer {
 public:
  explicit Writer(std::string* out) : out_(*out) {}

  void Raw(const char* text) { out_ += text; }
  // "key": at the start of a member, with the comma before all but the first.
  void Key(const char* key) {
    Separate();
    out_ += '"';
    out_ += key;
    out_ += "\":";
    first_ = false;
  }
  void Open(char bracket) {
    out_ += bracket;
    first_ = true;
  }
  void Close(char bracket) {
    out_ += bracket;
    first_ = false;
  }
  void Element() { Separate(), first_ = false; }

  void String(const std::string& text) {
    out_ += nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  void Bool(bool value) { out_ += value ? "true" : "false"; }
  // Through a buffer on the stack: 32 768 of these per snapshot.
  void Integer(int64_t value) {
    char text[24];
    out_.append(text, std::to_chars(text, text + sizeof(text), value).ptr);
  }
  void Unsigned(uint64_t value) {
    char text[24];
    out_.append(text, std::to_chars(text, text + sizeof(text), value).ptr);
  }
  // Rates and ages to a tenth or a hundredth: enough for a display.
  void Decimal(double value, int digits) {
    char text[32];
    snprintf(text, sizeof(text), "%.*f", digits, std::isfinite(value) ? value : 0.0);
    out_ += text;
  }
  template <typename Array>
  void Numbers(const Array& values) {
    Open('[');
    for (auto value : values) {
      Element();
      Integer(value);
    }
    Close(']');
  }

 private:
  void Separate() {
    if (!first_) out_ += ',';
  }
  std::string& out_;
  bool first_ = true;
};

void Drops(Writer& w, const DropCounts& counts) {
  w.Open('{');
  for (size_t kind = 0; kind < counts.size(); ++kind) {
    w.Key(DropKindName(static_cast<DropKind>(kind)));
    w.Unsigned(counts[kind]);
  }
  w.Close('}');
}

void Source(Writer& w, const SourceStatus& source) {
  w.Open('{');
  w.Key("name"), w.String(source.name);
  w.Key("cid"), w.String(source.cid);
  w.Key("address"), w.String(source.address);
  w.Key("priority");
  if (source.priority < 0)
    w.Raw("null");
  else
    w.Integer(source.priority);
  w.Key("per_slot_priority"), w.Bool(source.perSlotPriority);
  w.Key("packets_per_second"), w.Decimal(source.packetsPerSecond, 1);
  w.Key("packets"), w.Unsigned(source.packets);
  w.Key("sequence_errors"), w.Unsigned(source.sequenceErrors);
  w.Key("seconds_since_last"), w.Decimal(source.secondsSinceLast, 2);
  w.Key("preview"), w.Bool(source.preview);
  w.Key("held"), w.Bool(source.held);
  w.Key("role"), w.String(source.role);
  w.Key("awaiting_priorities"), w.Bool(source.awaitingPriorities);
  w.Key("lost"), w.Bool(source.lost);
  w.Key("gone");
  if (source.gone.empty())
    w.Raw("null");
  else
    w.String(source.gone);
  w.Close('}');
}

void Universe(Writer& w, const UniverseStatus& universe) {
  w.Open('{');
  w.Key("universe"), w.String(universe.universe);
  w.Key("protocol"), w.String(universe.protocol);
  w.Key("number"), w.Integer(universe.number);
  w.Key("packets_per_second"), w.Decimal(universe.packetsPerSecond, 1);
  w.Key("fading"), w.Bool(universe.fading);
  w.Key("merge"), w.String(universe.merge);
  w.Key("loss"), w.String(universe.loss);
  w.Key("state"), w.String(universe.state);
  w.Key("join_error");
  if (universe.joinError.empty())
    w.Raw("null");
  else
    w.String(universe.joinError);
  w.Key("levels"), w.Numbers(universe.levels);
  w.Key("owners"), w.Numbers(universe.owners);
  w.Key("priorities"), w.Numbers(universe.priorities);
  w.Key("sources"), w.Open('[');
  for (const SourceStatus& source : universe.sources) w.Element(), Source(w, source);
  w.Close(']');
  w.Key("interfaces"), w.Open('[');
  for (const std::string& serial : universe.interfaces) w.Element(), w.String(serial);
  w.Close(']');
  w.Key("drops"), Drops(w, universe.drops);
  w.Close('}');
}

void Interface(Writer& w, const InterfaceStatus& interface) {
  w.Open('{');
  w.Key("serial"), w.String(interface.serial);
  w.Key("type"), w.Integer(interface.type);
  w.Key("connected"), w.Bool(interface.connected);
  w.Key("state"), w.Raw(interface.connected ? "\"connected\"" : "\"looking\"");
  w.Key("mode"), w.Integer(interface.mode);
  w.Key("output"), w.Bool(interface.output);
  w.Key("input"), w.Bool(interface.input);
  w.Key("reports_out_per_second"), w.Decimal(interface.reportsOutPerSecond, 1);
  w.Key("input_blocks_per_second"), w.Decimal(interface.inputBlocksPerSecond, 1);
  w.Close('}');
}

}  // namespace

std::string StatusJson(const StatusSnapshot& snapshot) {
  std::string out;
  out.reserve(4096 + snapshot.universes.size() * 4096);
  Writer w(&out);
  w.Open('{');
  w.Key("version"), w.String(snapshot.version);
  w.Key("uptime_seconds"), w.Decimal(snapshot.uptimeSeconds, 1);
  w.Key("sequence"), w.Unsigned(snapshot.sequence);
  w.Key("subscribers"), w.Open('[');
  for (const SubscriberStatus& subscriber : snapshot.subscribers) {
    w.Element(), w.Open('{');
    w.Key("address"), w.String(subscriber.address);
    w.Key("short_name"), w.String(subscriber.shortName);
    w.Key("universes"), w.Open('[');
    for (const std::string& universe : subscriber.universes) w.Element(), w.String(universe);
    w.Close(']');
    w.Close('}');
  }
  w.Close(']');
  w.Key("identify"), w.Bool(snapshot.identify);
  w.Key("last_remote_change");
  if (snapshot.lastRemoteChange.empty())
    w.Raw("null");
  else
    w.String(snapshot.lastRemoteChange);
  w.Key("universes"), w.Open('[');
  for (const UniverseStatus& universe : snapshot.universes) w.Element(), Universe(w, universe);
  w.Close(']');
  w.Key("sends"), w.Open('[');
  for (const SendStatus& send : snapshot.sends) {
    w.Element(), w.Open('{');
    w.Key("universe"), w.String(send.universe);
    w.Key("serial"), w.String(send.serial);
    w.Key("packets_per_second"), w.Decimal(send.packetsPerSecond, 1);
    w.Close('}');
  }
  w.Close(']');
  w.Key("interfaces"), w.Open('[');
  for (const InterfaceStatus& interface : snapshot.interfaces) w.Element(), Interface(w, interface);
  w.Close(']');
  w.Key("drops"), w.Open('{');
  w.Key("sacn"), Drops(w, snapshot.sacnDrops);
  w.Key("artnet"), Drops(w, snapshot.artnetDrops);
  w.Close('}');
  w.Close('}');
  return out;
}

}  // namespace ombrix_bridge
