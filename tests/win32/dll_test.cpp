// Ombrix_USB.dll as an application meets it: loaded by module name, its
// export table holding the 24 functions under their plain names and
// nothing else, and the functions callable through the public types.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ombrix_usb.h"

namespace ombrix_test {
namespace {

// The 24 functions of the list of exports, in the order of the export
// directory, which sorts its names.
std::vector<std::string> ListedExports() {
  std::vector<std::string> names = {
#define OMBRIX_API_EXPORT(name, argument_bytes) #name,
#include "ombrix_exports.def.h"
  };
  std::sort(names.begin(), names.end());
  return names;
}

class Win32Dll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { module_ = LoadLibraryA("Ombrix_USB.dll"); }
  static void TearDownTestSuite() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  void SetUp() override { ASSERT_NE(module_, nullptr) << "LoadLibrary failed: " << GetLastError(); }

  template <typename Function>
  Function Get(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

  // The names in the loaded module's export directory.
  static std::vector<std::string> ExportedNames() {
    auto* base = reinterpret_cast<const uint8_t*>(module_);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    if (entry.VirtualAddress == 0) return names;
    auto* directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    auto* nameOffsets = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
      names.emplace_back(reinterpret_cast<const char*>(base + nameOffsets[i]));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  static HMODULE module_;
};

HMODULE Win32Dll::module_ = nullptr;

TEST_F(Win32Dll, ExportsExactlyThePlainNames) {
  const std::vector<std::string> expected = ListedExports();
  ASSERT_EQ(expected.size(), 24u);
  EXPECT_EQ(ExportedNames(), expected);
  for (const std::string& name : expected) {
    EXPECT_NE(GetProcAddress(module_, name.c_str()), nullptr) << name;
  }
}

TEST_F(Win32Dll, ModuleIsNamedOmbrixUsb) {
  char path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(module_, path, MAX_PATH), 0u);
  std::string file(path);
  file = file.substr(file.find_last_of("\\/") + 1);
  EXPECT_EQ(file, "Ombrix_USB.dll");
}

TEST_F(Win32Dll, CallsWithoutAnOpenLinkAnswerNotFound) {
  auto getAll = Get<decltype(&GetAllConnectedInterfaces)>("GetAllConnectedInterfaces");
  auto getOpened = Get<decltype(&GetAllOpenedInterfaces)>("GetAllOpenedInterfaces");
  auto typ = Get<decltype(&GetDeviceTyp)>("GetDeviceTyp");
  auto mode = Get<decltype(&SetInterfaceMode)>("SetInterfaceMode");
  auto send = Get<decltype(&SendDmxUniverse)>("SendDmxUniverse");
  auto advTx = Get<decltype(&SetInterfaceAdvTxConfig)>("SetInterfaceAdvTxConfig");
  auto close = Get<decltype(&CloseLink)>("CloseLink");
  auto closeAll = Get<decltype(&CloseAllLinks)>("CloseAllLinks");
  auto heartbeat = Get<decltype(&RegisterHeartbeatNotification)>("RegisterHeartbeatNotification");
  ASSERT_TRUE(getAll && getOpened && typ && mode && send && advTx && close && closeAll && heartbeat);

  uint8_t list[512];
  std::memset(list, 0x55, sizeof list);
  getOpened(list);
  for (int slot = 0; slot < 32; ++slot) {
    EXPECT_EQ(std::memcmp(list + 16 * slot, "0000000000000000", 16), 0) << "slot " << slot;
  }
  getAll(list);  // whatever is attached, the call returns with a filled list
  const uint8_t serial[16] = {'n', 'o', 't', ' ', 'o', 'p', 'e', 'n', 0, 1, 2, 3, 4, 5, 6, 7};
  uint8_t universe[512] = {};
  EXPECT_EQ(typ(serial), 0);
  EXPECT_EQ(mode(serial, 2), 0);
  EXPECT_EQ(send(serial, universe), 0);
  // Eight arguments: on 32-bit the callee must remove all 32 bytes, or the
  // calls that follow would run on a shifted stack.
  EXPECT_EQ(advTx(serial, 1, 2, 3, 4, 5, 6, 7), 0);
  EXPECT_EQ(heartbeat(serial, nullptr), 0);
  EXPECT_EQ(close(serial), 0);
  EXPECT_EQ(closeAll(), 1);
}

}  // namespace
}  // namespace ombrix_test
