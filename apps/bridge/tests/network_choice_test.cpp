// Choosing the network: --bind as an address or an interface name, the
// default route's interface by default with a warning when another could
// carry the show, and the configuration check that keeps one interface's
// input per universe.
#include <gtest/gtest.h>

#include "bridge_config.h"
#include "network_choice.h"

namespace {

using namespace ombrix_bridge;

std::vector<NetworkInterfaceInfo> Machine() {
  auto make = [](const char* name, const char* address, bool loopback) {
    NetworkInterfaceInfo info;
    info.name = name;
    info.address = asio::ip::make_address_v4(address);
    info.loopback = loopback;
    info.up = true;
    info.multicast = true;
    info.mac = {0x02, 0, 0, 0, 0, static_cast<uint8_t>(address[0])};
    return info;
  };
  return {make("lo", "127.0.0.1", true), make("wlan0", "192.168.1.5", false), make("eth1", "10.0.0.2", false)};
}

TEST(NetworkChoice, AnAddressOrANameOrTheDefaultRoutesInterface) {
  NetworkChoice choice;
  std::string error;
  ASSERT_TRUE(ChooseNetwork("eth1", Machine(), "wlan0", &choice, &error)) << error;
  EXPECT_EQ(choice.address.to_string(), "10.0.0.2");
  EXPECT_EQ(choice.mac[5], '1');
  EXPECT_TRUE(choice.warning.empty()) << "a network chosen by hand needs no warning";

  ASSERT_TRUE(ChooseNetwork("10.0.0.2", Machine(), "wlan0", &choice, &error));
  EXPECT_EQ(choice.interfaceName, "eth1");

  // Nothing given: the default route's interface, named, with a warning
  // that the show LAN could be the other one.
  ASSERT_TRUE(ChooseNetwork("", Machine(), "wlan0", &choice, &error));
  EXPECT_EQ(choice.interfaceName, "wlan0");
  EXPECT_NE(choice.description.find("wlan0 (192.168.1.5), the default route's"), std::string::npos);
  EXPECT_NE(choice.warning.find("eth1 (10.0.0.2)"), std::string::npos) << choice.warning;
  EXPECT_NE(choice.warning.find("--bind"), std::string::npos);

  // Only loopback: every address, and said so.
  ASSERT_TRUE(ChooseNetwork("", {Machine()[0]}, "", &choice, &error));
  EXPECT_TRUE(choice.address.is_unspecified());

  EXPECT_FALSE(ChooseNetwork("eth7", Machine(), "wlan0", &choice, &error));
  EXPECT_NE(error.find("eth1 (10.0.0.2)"), std::string::npos) << "the error lists what there is: " << error;
}

TEST(NetworkChoice, TwoInterfacesInputOnOneUniverseIsRefusedNamingBoth) {
  BridgeConfig config;
  std::string error;
  Mapping a, b;
  ASSERT_TRUE(ParseMapping("SIM0000000000001=sacn:5", Direction::kIn, &a, &error));
  ASSERT_TRUE(ParseMapping("SIM0000000000002=sacn:5", Direction::kIn, &b, &error));
  config.mappings = {a, b};
  EXPECT_FALSE(CheckConfig(config, &error));
  EXPECT_NE(error.find("SIM0000000000001"), std::string::npos) << error;
  EXPECT_NE(error.find("SIM0000000000002"), std::string::npos) << error;
  EXPECT_EQ(error.find(". "), std::string::npos) << "one sentence: " << error;
  ASSERT_TRUE(ParseMapping("SIM0000000000002=sacn:6", Direction::kIn, &b, &error));
  config.mappings = {a, b};
  EXPECT_TRUE(CheckConfig(config, &error)) << error;
}

}  // namespace
