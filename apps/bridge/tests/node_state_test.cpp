// The node's state file: what it keeps survives a round trip through the
// disk, and a file cut short at any byte, or changed, is refused whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "node_state.h"

namespace ombrix_bridge {
namespace {

NodeState FullState() {
  NodeState state;
  state.shortName = "Truss L";
  state.longName = "Stage left 50% \n\"truss\"";  // from the network: anything at all
  NodeState::Output& one = state.OutputFor({Protocol::kArtnet, 0x0001});
  one.patch = NetworkUniverse{Protocol::kArtnet, 0x0013};
  one.merge = ombrix::protocols::MergeMode::kLtp;
  one.loss = LossPolicy::kScene;
  std::array<uint8_t, 512> scene{};
  for (size_t i = 0; i < scene.size(); ++i) scene[i] = static_cast<uint8_t>(i * 7);
  one.scene = scene;
  state.OutputFor({Protocol::kSacn, 1}).loss = LossPolicy::kFull;
  state.InputFor({Protocol::kArtnet, 0x0002}).patch = {Protocol::kArtnet, 0x0005};
  return state;
}

TEST(NodeState, EverySettingSurvivesTheDiskAndTheFileIsReplacedWhole) {
  char folder[] = "/tmp/ombrix-state-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string path = std::string(folder) + "/bridge.state";
  NodeState loaded;
  std::string error;
  ASSERT_TRUE(LoadNodeState(path, &loaded, &error)) << "no file yet is an empty state: " << error;
  EXPECT_TRUE(loaded.outputs.empty());

  ASSERT_TRUE(SaveNodeState(path, FullState(), &error)) << error;
  ASSERT_TRUE(SaveNodeState(path, FullState(), &error)) << error;  // over the old one
  ASSERT_TRUE(LoadNodeState(path, &loaded, &error)) << error;
  EXPECT_EQ(FormatNodeState(loaded), FormatNodeState(FullState()));
  EXPECT_EQ(loaded.longName, FullState().longName);
  ASSERT_EQ(loaded.outputs.size(), 2u);
  EXPECT_EQ(loaded.outputs[0].scene, FullState().outputs[0].scene);
  EXPECT_EQ(access((path + ".new").c_str(), F_OK), -1) << "no temporary file is left behind";
  remove(path.c_str());
  rmdir(folder);
}

TEST(NodeState, AFileCutShortAtAnyByteOrChangedIsRefusedWhole) {
  std::string whole = FormatNodeState(FullState());
  const NodeState before = FullState();
  for (size_t length = 0; length < whole.size(); ++length) {
    NodeState state = before;
    std::string error;
    ASSERT_FALSE(ParseNodeState(std::string_view(whole).substr(0, length), &state, &error)) << "cut at " << length;
    EXPECT_FALSE(error.empty());
    ASSERT_EQ(FormatNodeState(state), whole) << "cut at " << length << " changed the state";
  }
  std::string changed = whole;
  changed[whole.find("ltp")] = 'h';  // "htp": a well-formed line, but not what was written
  NodeState state;
  std::string error;
  EXPECT_FALSE(ParseNodeState(changed, &state, &error));
  EXPECT_NE(error.find("checksum"), std::string::npos) << error;
}

TEST(NodeState, ADamagedFileIsReportedInOneSentenceThatNamesIt) {
  char path[] = "/tmp/ombrix-state-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::string whole = FormatNodeState(FullState());
  std::ofstream(path) << whole.substr(0, whole.size() / 2);
  NodeState state;
  std::string error;
  EXPECT_FALSE(LoadNodeState(path, &state, &error));
  EXPECT_NE(error.find(std::string("The state file ") + path + " is damaged"), std::string::npos) << error;
  EXPECT_NE(error.find("ignored as a whole"), std::string::npos) << error;
  EXPECT_TRUE(state.outputs.empty());
  remove(path);
}

}  // namespace
}  // namespace ombrix_bridge
