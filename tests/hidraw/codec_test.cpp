// The backend's pure translations: uniq strings, descriptors, framing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/hidraw/hidraw_codec.h"

using ombrix::hidraw::DescriptorUsesReportIds;
using ombrix::hidraw::RestoreReportId;
using ombrix::hidraw::Utf8ToUtf16;

namespace {

std::vector<uint16_t> Convert(const std::string& text, size_t capacity = 100) {
  std::vector<uint16_t> out(capacity, 0xAAAA);
  size_t units = Utf8ToUtf16(text.data(), text.size(), out.data(), capacity);
  EXPECT_EQ(out[units], 0) << "terminator";
  out.resize(units);
  return out;
}

TEST(Utf8ToUtf16, ConvertsEachEncodedLength) {
  EXPECT_EQ(Convert("AB12"), (std::vector<uint16_t>{'A', 'B', '1', '2'}));
  EXPECT_EQ(Convert("\xC5\x81"), (std::vector<uint16_t>{0x0141}));                  // two bytes
  EXPECT_EQ(Convert("\xE2\x82\xAC"), (std::vector<uint16_t>{0x20AC}));              // three bytes
  EXPECT_EQ(Convert("\xF0\x9F\x92\xA1"), (std::vector<uint16_t>{0xD83D, 0xDCA1}));  // pair
}

TEST(Utf8ToUtf16, ReplacesIllFormedSequences) {
  EXPECT_EQ(Convert("\xC0\xAF"), (std::vector<uint16_t>{0xFFFD, 0xFFFD}));          // overlong '/'
  EXPECT_EQ(Convert("\xED\xA0\x80"), (std::vector<uint16_t>{0xFFFD}));              // a surrogate
  EXPECT_EQ(Convert("\xF4\x90\x80\x80"), (std::vector<uint16_t>{0xFFFD}));          // above U+10FFFF
  EXPECT_EQ(Convert("A\x80Z"), (std::vector<uint16_t>{'A', 0xFFFD, 'Z'}));          // stray continuation
  EXPECT_EQ(Convert("\xE2\x82Z"), (std::vector<uint16_t>{0xFFFD, 'Z'}));            // cut short
  EXPECT_EQ(Convert(std::string("\xE2\x82", 2)), (std::vector<uint16_t>{0xFFFD}));  // at the end
}

TEST(Utf8ToUtf16, StopsAtNulAndAtCapacity) {
  EXPECT_EQ(Convert(std::string("AB\0CD", 5)), (std::vector<uint16_t>{'A', 'B'}));
  EXPECT_EQ(Convert("ABCDEF", 4), (std::vector<uint16_t>{'A', 'B', 'C'}));
  // A pair that does not fit whole is left out rather than split.
  EXPECT_EQ(Convert("A\xF0\x9F\x92\xA1", 3), (std::vector<uint16_t>{'A'}));
  uint16_t one[1] = {0xAAAA};
  EXPECT_EQ(Utf8ToUtf16("A", 1, one, 1), 0u);
  EXPECT_EQ(one[0], 0);
}

TEST(Utf8ToUtf16, LeavesUnitsAfterTheTerminatorAlone) {
  uint16_t out[8];
  for (uint16_t& unit : out) unit = 0x7777;
  Utf8ToUtf16("AB", 2, out, 8);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(out[3], 0x7777);
}

// 33-byte vendor input and output reports, unnumbered, as the interfaces
// (and the QEMU tier's virtual devices) describe them.
const uint8_t kUnnumbered[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75,
                               0x08, 0x95, 0x21, 0x09, 0x02, 0x81, 0x02, 0x09, 0x03, 0x91, 0x02, 0xC0};

TEST(DescriptorUsesReportIds, FindsReportIdItems) {
  EXPECT_FALSE(DescriptorUsesReportIds(kUnnumbered, sizeof kUnnumbered));
  const uint8_t numbered[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x95, 0x21, 0x81, 0x02, 0xC0};
  EXPECT_TRUE(DescriptorUsesReportIds(numbered, sizeof numbered));
}

TEST(DescriptorUsesReportIds, DoesNotMistakeDataBytesForItems) {
  // 0x85 inside a 2-byte Usage Page value and inside a long item's data.
  const uint8_t dataBytes[] = {0x06, 0x85, 0x85, 0xFE, 0x02, 0x10, 0x85, 0x85, 0x09, 0x01};
  EXPECT_FALSE(DescriptorUsesReportIds(dataBytes, sizeof dataBytes));
  // An item cut off by the end of the descriptor ends the scan safely.
  const uint8_t cut[] = {0x27, 0xFF, 0xFF};
  EXPECT_FALSE(DescriptorUsesReportIds(cut, sizeof cut));
  const uint8_t cutLong[] = {0xFE};
  EXPECT_FALSE(DescriptorUsesReportIds(cutLong, sizeof cutLong));
}

TEST(RestoreReportId, PutsBackTheIdOfUnnumberedReports) {
  uint8_t report[33];
  for (int i = 0; i < 33; ++i) report[i] = static_cast<uint8_t>(0x40 + i);
  uint8_t out[34];
  ASSERT_EQ(RestoreReportId(report, 33, false, out, sizeof out), 34u);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(std::memcmp(out + 1, report, 33), 0);

  // Numbered reports arrive with their ID and pass unchanged.
  uint8_t numbered[34] = {0x02, 0x11};
  ASSERT_EQ(RestoreReportId(numbered, 34, true, out, sizeof out), 34u);
  EXPECT_EQ(std::memcmp(out, numbered, 34), 0);
}

TEST(RestoreReportId, RefusesReportsThatDoNotFit) {
  uint8_t report[40] = {};
  uint8_t out[35];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(RestoreReportId(report, 34, false, out, 34), 0u);  // 35 with its ID
  EXPECT_EQ(RestoreReportId(report, 35, true, out, 34), 0u);
  EXPECT_EQ(out[0], 0xEE) << "nothing stored";
  EXPECT_EQ(RestoreReportId(report, 10, false, out, 34), 11u);  // short reports are kept short
}

}  // namespace
