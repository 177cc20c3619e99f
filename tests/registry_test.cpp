// The registry's list operations and look-up, on records no thread serves.
#include <cstring>

#include "registry/registry.h"
#include "sim_fixture.h"

using namespace ombrix;
using namespace ombrix_test;

namespace {

std::vector<Link*> Chain() {
  std::vector<Link*> links;
  for (Link* link = Registry().head.load(); link != nullptr; link = link->next.load()) links.push_back(link);
  return links;
}

void ExpectConsistent() {
  std::vector<Link*> links = Chain();
  LinkRegistry& registry = Registry();
  if (links.empty()) {
    EXPECT_EQ(registry.head.load(), nullptr);
    EXPECT_EQ(registry.tail.load(), nullptr);
    return;
  }
  EXPECT_EQ(links.front()->prev.load(), nullptr);
  EXPECT_EQ(registry.tail.load(), links.back());
  for (size_t i = 1; i < links.size(); ++i) EXPECT_EQ(links[i]->prev.load(), links[i - 1]);
}

TEST(RegistryTest, AppendAndUnlinkKeepTheChainConsistent) {
  ASSERT_FALSE(RegistryHasLinks());
  Link a, b, c;
  std::memcpy(a.serial, "AAAAAAAAAAAAAAAA", 16);
  std::memcpy(b.serial, "BBBBBBBBBBBBBBBB", 16);
  std::memcpy(c.serial, "CCCCCCCCCCCCCCCC", 16);
  RegistryAppend(&a);
  RegistryAppend(&b);
  RegistryAppend(&c);
  EXPECT_EQ(Chain(), (std::vector<Link*>{&a, &b, &c}));
  ExpectConsistent();

  EXPECT_EQ(FindLinkBySerial(b.serial), &b);
  RegistryUnlink(&b);  // the middle
  EXPECT_EQ(Chain(), (std::vector<Link*>{&a, &c}));
  EXPECT_EQ(FindLinkBySerial(b.serial), nullptr);
  ExpectConsistent();

  Link stranger;
  RegistryUnlink(&stranger);  // not in the list: nothing changes
  EXPECT_EQ(Chain(), (std::vector<Link*>{&a, &c}));

  RegistryUnlink(&c);  // the tail
  EXPECT_EQ(Chain(), (std::vector<Link*>{&a}));
  ExpectConsistent();
  RegistryUnlink(&a);  // the only one
  EXPECT_FALSE(RegistryHasLinks());
  ExpectConsistent();

  RegistryAppend(&a);
  RegistryAppend(&b);
  RegistryUnlink(&a);  // the head
  EXPECT_EQ(Chain(), (std::vector<Link*>{&b}));
  ExpectConsistent();
  RegistryUnlink(&b);
}

TEST(RegistryTest, LookUpComparesAllSixteenBytes) {
  Link link;
  std::memcpy(link.serial, "ABC\0DEFGHIJKLMNO", 16);
  RegistryAppend(&link);
  uint8_t same[16];
  std::memcpy(same, link.serial, 16);
  EXPECT_EQ(FindLinkBySerial(same), &link);
  same[5] = 'x';  // differs only after the NUL
  EXPECT_EQ(FindLinkBySerial(same), nullptr);
  EXPECT_EQ(FindLinkBySerial(nullptr), nullptr);
  RegistryUnlink(&link);
}

TEST(RegistryTest, NoLinkOpenMeansEveryPerInterfaceExportFails) {
  Serial serial = SerialOf("NOTOPEN000000001");
  uint8_t universe[512] = {};
  uint8_t byteValue = 0;
  uint16_t value = 0;
  EXPECT_EQ(CloseLink(serial.data()), 0);
  EXPECT_EQ(SendDmxUniverse(serial.data(), universe), 0);
  EXPECT_EQ(SetInterfaceMode(serial.data(), 2), 0);
  EXPECT_EQ(SetInterfaceAdvTxConfig(serial.data(), 1, 2, 3, 4, 5, 512, 0), 0);
  EXPECT_EQ(StoreInterfaceAdvTxConfig(serial.data()), 0);
  EXPECT_EQ(GetInterfaceConfig(serial.data(), &byteValue, &value, &value, &value, &value, &value, &value), 0);
  EXPECT_EQ(RegisterHeartbeatNotification(serial.data(), nullptr), 0);
  EXPECT_EQ(UnregisterHeartbeatNotification(serial.data()), 0);
  EXPECT_EQ(RegisterInputChangeBlockNotificationSerial(serial.data(), nullptr), 0);
  EXPECT_EQ(UnregisterInputChangeBlockNotificationSerial(serial.data()), 0);
  EXPECT_EQ(RegisterInterfaceChangeNotificationSerial(serial.data(), nullptr), 0);
  EXPECT_EQ(UnregisterInterfaceChangeNotificationSerial(serial.data()), 0);
  EXPECT_EQ(CloseAllLinks(), 1);
}

}  // namespace
