// The bridge's configuration: mappings as users type them, the TOML file
// (the example of docs/bridge.md among them), the checks across values,
// the allow list and the sACN identity.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "allow_list.h"
#include "bridge_command.h"
#include "bridge_config.h"
#include "sacn_identity.h"
#include "slot_priorities.h"
#include "universe_settings.h"
#include "udp_socket.h"

namespace ombrix_bridge {
namespace {

std::string WriteFile(const std::string& text) {
  char path[] = "/tmp/ombrix-bridge-config-XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  close(fd);
  std::ofstream(path) << text;
  return path;
}

TEST(BridgeConfigTest, MappingsAsTyped) {
  Mapping mapping;
  std::string error;
  ASSERT_TRUE(ParseMapping("SIM0000000000001=sacn:63999", Direction::kOut, &mapping, &error)) << error;
  EXPECT_EQ(mapping.universe.protocol, Protocol::kSacn);
  EXPECT_EQ(mapping.universe.number, 63999);
  ASSERT_TRUE(ParseMapping("SIM0000000000001=artnet:127:15:15", Direction::kIn, &mapping, &error)) << error;
  EXPECT_EQ(mapping.universe.number, 0x7FFF);
  EXPECT_EQ(UniverseText(mapping.universe), "artnet:127:15:15");
  for (const char* bad : {"SIM0000000000001=sacn:0", "SIM0000000000001=sacn:64000",
                          "SIM0000000000001=sacn:", "SIM0000000000001=artnet:128:0:0", "SIM0000000000001=artnet:0:16:0",
                          "SIM0000000000001=artnet:0:0", "SIM0000000000001=dmx:1", "SIM0000000000001", "SIM1=sacn:1",
                          "SIM0000000000001=sacn:-1", "SIM0000000000001=sacn:1x"}) {
    EXPECT_FALSE(ParseMapping(bad, Direction::kOut, &mapping, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(BridgeConfigTest, ChecksAcrossValues) {
  BridgeConfig config;
  std::string error;
  EXPECT_FALSE(CheckConfig(config, &error));
  EXPECT_NE(error.find("Nothing to bridge"), std::string::npos);
  Mapping out;
  ASSERT_TRUE(ParseMapping("SIM0000000000001=sacn:1", Direction::kOut, &out, &error));
  config.mappings = {out};
  EXPECT_TRUE(CheckConfig(config, &error)) << error;
  Mapping second = out;
  second.universe.number = 2;
  config.mappings.push_back(second);
  EXPECT_FALSE(CheckConfig(config, &error));
  EXPECT_NE(error.find("has one output"), std::string::npos);
  config.mappings = {out};
  for (auto change : std::vector<void (*)(BridgeConfig&)>{
           [](BridgeConfig& c) { c.priority = 201; }, [](BridgeConfig& c) { c.mode = 256; },
           [](BridgeConfig& c) { c.sacnPort = 0; }, [](BridgeConfig& c) { c.artnetPort = c.sacnPort; },
           [](BridgeConfig& c) { c.bind = "eth0/24"; }, [](BridgeConfig& c) { c.sacnTargets = {"1.2.3.4:70000"}; },
           [](BridgeConfig& c) { c.allow = {"10.0.0.0/33"}; },
           [](BridgeConfig& c) { c.loss = LossPolicy::kFade, c.fadeSeconds = 0; }}) {
    BridgeConfig changed = config;
    change(changed);
    EXPECT_FALSE(CheckConfig(changed, &error));
  }
  Mapping echo = out;
  echo.direction = Direction::kIn;
  config.mappings.push_back(echo);
  EXPECT_FALSE(CheckConfig(config, &error));
  EXPECT_NE(error.find("the bridge would hear itself"), std::string::npos) << error;
  config.mappings = {out};
  EXPECT_EQ(ModeFor(config, out.serial), 2);
  Mapping input = out;
  input.direction = Direction::kIn;
  input.serial[15] = '2';
  config.mappings.push_back(input);
  EXPECT_EQ(ModeFor(config, input.serial), 0) << "an input-only interface must not be made to transmit";
}

// The example configuration of docs/bridge.md, kept the same there.
const char kExample[] = R"(
bind = "192.168.1.20"
mode = 2
sacn_port = 5568
artnet_port = 6454
priority = 100
sacn_targets = ["192.168.1.50"]
artnet_targets = ["192.168.1.255"]
allow = ["192.168.1.0/24", "10.0.0.0/8"]
loss = "fade"
fade_seconds = 5.0

[[interface]]
serial = "SIM0000000000001"
out = "sacn:1"
in = "sacn:101"

[[interface]]
serial = "SIM0000000000002"
out = "artnet:0:0:1"
in = ["artnet:0:0:2", "sacn:102"]
mode = 3
)";

TEST(BridgeConfigTest, TheDocumentedFileLoads) {
  std::string path = WriteFile(kExample);
  BridgeConfig config;
  std::string error;
  ASSERT_TRUE(LoadConfigFile(path, &config, &error)) << error;
  remove(path.c_str());
  EXPECT_TRUE(CheckConfig(config, &error)) << error;
  EXPECT_EQ(config.bind, "192.168.1.20");
  EXPECT_EQ(config.loss, LossPolicy::kFade);
  EXPECT_DOUBLE_EQ(config.fadeSeconds, 5.0);
  ASSERT_EQ(config.mappings.size(), 5u);
  EXPECT_EQ(UniverseText(config.mappings[3].universe), "artnet:0:0:2");
  EXPECT_EQ(config.allow.size(), 2u);
  EXPECT_EQ(ModeFor(config, config.mappings[2].serial), 3);
}

// The two-desk configuration of the guide.
constexpr const char* kTwoDesks = R"(
merge = "ltp"

[[interface]]
serial = "SIM0000000000001"
out = "sacn:1"

[[interface]]
serial = "SIM0000000000002"
out = "sacn:2"

[[universe]]
universe = "sacn:1"
merge = "backup"
primary = "Main desk"
backup = ["198.18.0.12", "6BA7B810-9DAD-11D1-80B4-00C04FD430C8"]
takeback_seconds = 5
loss = "scene"
)";

TEST(BridgeConfigTest, UniverseTablesOverTheBridgesDefaultsAndOnlyForUniversesItOutputs) {
  std::string path = WriteFile(kTwoDesks);
  BridgeConfig config;
  std::string error;
  ASSERT_TRUE(LoadConfigFile(path, &config, &error)) << error;
  remove(path.c_str());
  ASSERT_TRUE(CheckConfig(config, &error)) << error;
  OutputSettings one = SettingsFor(config, {Protocol::kSacn, 1});
  EXPECT_EQ(one.merge.mode, ombrix::protocols::MergeMode::kBackup);
  EXPECT_EQ(one.merge.backup[1], "6ba7b810-9dad-11d1-80b4-00c04fd430c8") << "CIDs are matched in lower case";
  EXPECT_EQ(one.merge.takeback, std::chrono::seconds(5));
  EXPECT_EQ(one.loss, LossPolicy::kScene);
  OutputSettings two = SettingsFor(config, {Protocol::kSacn, 2});
  EXPECT_EQ(two.merge.mode, ombrix::protocols::MergeMode::kLtp);
  EXPECT_EQ(two.loss, LossPolicy::kHold);

  config.universes.push_back(config.universes[0]);
  EXPECT_FALSE(CheckConfig(config, &error));
  EXPECT_NE(error.find("two [[universe]] tables"), std::string::npos) << error;
  config.universes[1].universe = {Protocol::kSacn, 9};
  EXPECT_FALSE(CheckConfig(config, &error));
  EXPECT_NE(error.find("no interface outputs it"), std::string::npos) << error;
}

TEST(BridgeConfigTest, SlotPrioritiesAsWritten) {
  ombrix_bridge::SlotPriorities priorities;
  std::string error;
  ASSERT_TRUE(ombrix_bridge::ParseSlotPriorities(" 1-48:100 , 49 : 0, 512:200", &priorities, &error)) << error;
  EXPECT_EQ(priorities[0], 100);
  EXPECT_EQ(priorities[47], 100);
  EXPECT_EQ(priorities[48], 0);
  EXPECT_EQ(priorities[100], 0) << "slots not named are not sourced";
  EXPECT_EQ(priorities[511], 200);
  for (const char* bad :
       {"", "1-48", "0-4:100", "1-513:100", "9-3:100", "1-4:201", "1-4:-1", "1-4:100,4:50", "1-4:1x", "a-b:3"}) {
    EXPECT_FALSE(ombrix_bridge::ParseSlotPriorities(bad, &priorities, &error)) << bad;
    EXPECT_NE(error.find(std::string("\"") + bad + "\""), std::string::npos) << error;
  }
  BridgeConfig config;
  Mapping output;
  ASSERT_TRUE(ParseMapping("SIM0000000000001=sacn:1", Direction::kOut, &output, &error)) << error;
  config.mappings = {output};
  ASSERT_TRUE(ombrix_bridge::AddSlotPriorities("sacn:1=1:100", &config, &error)) << error;
  EXPECT_FALSE(CheckConfig(config, &error)) << "priorities of a universe that is received, not sent";
  EXPECT_NE(error.find("go with an sACN universe an interface's input is sent on"), std::string::npos) << error;
}

TEST(BridgeConfigTest, FileMistakesNameTheLine) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"mode = 2\nmdoe = 3\n", "line 2: unknown key \"mdoe\""},
      {"mode = \"two\"\n", "line 1: \"mode\" has the wrong type"},
      {"loss = \"dim\"\n", "\"loss\" is \"hold\", \"fade\", \"zero\", \"full\" or \"scene\""},
      {"merge = \"backup\"\n", "\"backup\" and \"only\" name sources in a [[universe]] table"},
      {"[[universe]]\nuniverse = \"sacn:1\"\nmerge = \"backup\"\nprimary = \"Main\"\n", "needs both"},
      {"[[universe]]\nuniverse = \"sacn:1\"\nmerge = \"only\"\n", "needs \"sources\""},
      {"[[universe]]\nuniverse = \"sacn:1\"\nmerge = \"htp\"\nbackup = \"B\"\n", "go with merge = \"backup\""},
      {"[[universe]]\nuniverse = \"sacn:1\"\nprimary = \"Main\"\n", "no merge"},
      {"[[universe]]\nuniverse = \"sacn:1\"\nlos = \"zero\"\n", "line 3: unknown key \"los\""},
      {"universe = 1\n", "as a [[universe]] table"},
      {"[[interface]]\nout = \"sacn:1\"\n", "needs its serial"},
      {"[[interface]]\nserial = \"SIM0000000000001\"\nout = \"sacn:0\"\n", "is not a network universe"},
      {"[[interface]]\nserial = \"SIM0000000000001\"\nin = [1, 2]\n", "a list of strings"},
      {"mode = [\n", "line"},
  };
  for (const Case& test : cases) {
    std::string path = WriteFile(test.text);
    BridgeConfig config;
    std::string error;
    EXPECT_FALSE(LoadConfigFile(path, &config, &error)) << test.text;
    EXPECT_NE(error.find(test.expected), std::string::npos) << error;
    remove(path.c_str());
  }
  BridgeConfig config;
  std::string error;
  EXPECT_FALSE(LoadConfigFile("/nonexistent/bridge.toml", &config, &error));
  EXPECT_NE(error.find("could not be read"), std::string::npos) << error;
}

TEST(BridgeConfigTest, AllowListMatchesBlocksOfBothFamilies) {
  AllowList allow;
  std::string error;
  ASSERT_TRUE(allow.Parse({"192.168.1.0/24", "10.1.2.3", "fd00::/8"}, &error)) << error;
  auto allows = [&](const char* text) { return allow.Allows(asio::ip::make_address(text)); };
  EXPECT_TRUE(allows("192.168.1.200"));
  EXPECT_FALSE(allows("192.168.2.1"));
  EXPECT_TRUE(allows("10.1.2.3"));
  EXPECT_FALSE(allows("10.1.2.4"));
  EXPECT_TRUE(allows("fd12::1"));
  EXPECT_FALSE(allows("fe80::1"));
  EXPECT_TRUE(allows("::ffff:192.168.1.7")) << "an IPv4 sender seen through an IPv6 socket";
  ASSERT_TRUE(allow.Parse({"0.0.0.0/0"}, &error));
  EXPECT_TRUE(allows("8.8.8.8"));
  EXPECT_FALSE(allows("::1"));
  for (const char* bad : {"10.0.0.0/33", "10.0.0.0/", "10.0.0/8", "fd00::/129", "host/8"}) {
    EXPECT_FALSE(allow.Parse({bad}, &error)) << bad;
    EXPECT_TRUE(allow.empty());
  }
}

TEST(BridgeConfigTest, EndpointsWithAndWithoutPorts) {
  Endpoint endpoint;
  std::string error;
  ASSERT_TRUE(ParseEndpoint("127.0.0.1", 5568, &endpoint, &error));
  EXPECT_EQ(endpoint.port(), 5568);
  ASSERT_TRUE(ParseEndpoint("127.0.0.1:9000", 5568, &endpoint, &error));
  EXPECT_EQ(endpoint.port(), 9000);
  ASSERT_TRUE(ParseEndpoint("[::1]:9001", 5568, &endpoint, &error));
  EXPECT_EQ(endpoint.port(), 9001);
  EXPECT_TRUE(endpoint.address().is_v6());
  ASSERT_TRUE(ParseEndpoint("::1", 5568, &endpoint, &error));
  EXPECT_EQ(endpoint.port(), 5568);
  for (const char* bad : {"127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:x", "[::1]x", "name:80", ""}) {
    EXPECT_FALSE(ParseEndpoint(bad, 5568, &endpoint, &error)) << bad;
  }
}

TEST(BridgeConfigTest, CidIsStableAndDistinctPerSerialAndUniverse) {
  ombrix_tool::Serial a = ombrix_tool::SimulatedSerial(1), b = ombrix_tool::SimulatedSerial(2);
  Cid cid = MakeCid("host", a, 1);
  EXPECT_EQ(cid, MakeCid("host", a, 1));
  EXPECT_NE(cid, MakeCid("host", a, 2));
  EXPECT_NE(cid, MakeCid("host", b, 1));
  EXPECT_NE(cid, MakeCid("other", a, 1));
  EXPECT_EQ(cid[6] >> 4, 5) << "a name-based (SHA-1) UUID";
  std::string longHost(80, 'h');
  EXPECT_LE(SourceName(longHost, a).size(), 63u);
  EXPECT_EQ(SourceName("stage", a), "stage ombrix SIM0000000000001");
}

}  // namespace
}  // namespace ombrix_bridge

namespace ombrix_bridge {
namespace {

// Every setting the command line can give, given once in the middle of the
// file's values: each must replace its own field and no other.
TEST(BridgeConfigTest, CommandLineSettingsReplaceOnlyTheirOwnFieldsOfTheFile) {
  std::string path = WriteFile(R"(bind = "127.0.0.2"
mode = 3
sacn_port = 6001
artnet_port = 6002
priority = 101
sacn_targets = ["127.0.0.3"]
artnet_targets = ["127.0.0.4"]
allow = ["127.0.0.0/8"]
loss = "fade"
fade_seconds = 4.0
merge = "htp"
http = "8001"
http_hosts = ["show-pc.example"]

[[interface]]
serial = "SIM0000000000001"
out = "sacn:1"
)");
  struct Given {
    std::vector<std::string> arguments;
    std::function<void(BridgeConfig&)> expect;  // what the file's values become
  } cases[] = {
      {{"--bind", "127.0.0.9"}, [](BridgeConfig& c) { c.bind = "127.0.0.9"; }},
      {{"--mode", "1"}, [](BridgeConfig& c) { c.mode = 1; }},
      {{"--sacn-port", "7001"}, [](BridgeConfig& c) { c.sacnPort = 7001; }},
      {{"--artnet-port", "7002"}, [](BridgeConfig& c) { c.artnetPort = 7002; }},
      {{"--sacn-target", "127.0.0.5"}, [](BridgeConfig& c) { c.sacnTargets = {"127.0.0.5"}; }},
      {{"--artnet-target", "127.0.0.6"}, [](BridgeConfig& c) { c.artnetTargets = {"127.0.0.6"}; }},
      {{"--allow", "10.0.0.0/8"}, [](BridgeConfig& c) { c.allow = {"10.0.0.0/8"}; }},
      {{"--priority", "150"}, [](BridgeConfig& c) { c.priority = 150; }},
      {{"--loss", "scene"}, [](BridgeConfig& c) { c.loss = LossPolicy::kScene; }},
      {{"--merge", "ltp"}, [](BridgeConfig& c) { c.merge = ombrix::protocols::MergeMode::kLtp; }},
      {{"--fade-seconds", "1.5"}, [](BridgeConfig& c) { c.fadeSeconds = 1.5; }},
      {{"--http", "8002"}, [](BridgeConfig& c) { c.http = "8002"; }},
      {{"--http-host", "lighting.example"}, [](BridgeConfig& c) { c.httpHosts = {"lighting.example"}; }},
      {{"--bind", "eth1"}, [](BridgeConfig& c) { c.bind = "eth1"; }},
  };
  std::string error;
  BridgeConfig fromFile;
  ASSERT_TRUE(LoadConfigFile(path, &fromFile, &error)) << error;
  for (const Given& given : cases) {
    CLI::App app;
    BridgeOptions options;
    CLI::App* command = AddBridgeCommand(app, &options);
    ASSERT_NE(command, nullptr);
    std::vector<std::string> arguments = {"ombrix", "bridge", "--config", path, "--in", "SIM0000000000002=sacn:9"};
    arguments.insert(arguments.end(), given.arguments.begin(), given.arguments.end());
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    ASSERT_NO_THROW(app.parse(static_cast<int>(argv.size()), argv.data())) << given.arguments[0];

    BridgeConfig resolved;
    ASSERT_TRUE(ResolveBridgeConfig(options, &resolved, &error)) << given.arguments[0] << ": " << error;
    BridgeConfig expected = fromFile;
    given.expect(expected);
    EXPECT_EQ(resolved.bind, expected.bind) << given.arguments[0];
    EXPECT_EQ(resolved.mode, expected.mode) << given.arguments[0];
    EXPECT_EQ(resolved.sacnPort, expected.sacnPort) << given.arguments[0];
    EXPECT_EQ(resolved.artnetPort, expected.artnetPort) << given.arguments[0];
    EXPECT_EQ(resolved.sacnTargets, expected.sacnTargets) << given.arguments[0];
    EXPECT_EQ(resolved.artnetTargets, expected.artnetTargets) << given.arguments[0];
    EXPECT_EQ(resolved.allow, expected.allow) << given.arguments[0];
    EXPECT_EQ(resolved.priority, expected.priority) << given.arguments[0];
    EXPECT_EQ(resolved.loss, expected.loss) << given.arguments[0];
    EXPECT_EQ(resolved.merge, expected.merge) << given.arguments[0];
    EXPECT_DOUBLE_EQ(resolved.fadeSeconds, expected.fadeSeconds) << given.arguments[0];
    EXPECT_EQ(resolved.http, expected.http) << given.arguments[0];
    EXPECT_EQ(resolved.httpHosts, expected.httpHosts) << given.arguments[0];
    // The file's mapping, then the command line's.
    ASSERT_EQ(resolved.mappings.size(), 2u) << given.arguments[0];
    EXPECT_EQ(UniverseText(resolved.mappings[1].universe), "sacn:9");
  }
  remove(path.c_str());
}

}  // namespace
}  // namespace ombrix_bridge
