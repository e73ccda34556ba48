#include "app/TextFormat.h"

#include <gtest/gtest.h>

namespace {

using app::FormatText;
using app::TextArg;

TEST(TextFormat, FillsConversionsThatMatchTheirArguments) {
  EXPECT_EQ(FormatText("cylinder %u of %u", {TextArg::Number(3), TextArg::Number(80)}),
            "cylinder 3 of 80");
  EXPECT_EQ(FormatText("%s on %c:", {TextArg::Text("Disk"), TextArg::Letter('A')}), "Disk on A:");
  EXPECT_EQ(
      FormatText("[%3d|%-4u|%02X]", {TextArg::Number(7), TextArg::Number(5), TextArg::Number(10)}),
      "[  7|5   |0A]");
  EXPECT_EQ(FormatText("100%% of %lu", {TextArg::Number(9)}), "100% of 9");
  EXPECT_EQ(FormatText("%.3s", {TextArg::Text("abcdef")}), "abc");
}

TEST(TextFormat, LeavesEveryOtherConversionAsWritten) {
  // A text that asks for more, or other, arguments than the program gives.
  EXPECT_EQ(FormatText("%s %s %n %p", {TextArg::Text("one")}), "one %s %n %p");
  EXPECT_EQ(FormatText("drive %s", {TextArg::Letter('A')}), "drive %s");
  EXPECT_EQ(FormatText("%c then %u", {TextArg::Number(1)}), "%c then 1");
  EXPECT_EQ(FormatText("%9999u", {TextArg::Number(1)}), "%9999u") << "no width beyond 3 digits";
  EXPECT_EQ(FormatText("%*d", {TextArg::Number(1)}), "%*d");
  EXPECT_EQ(FormatText("ends with %", {TextArg::Number(1)}), "ends with %");
  EXPECT_EQ(FormatText("ready %c:", {}), "ready %c:");
}

}  // namespace
