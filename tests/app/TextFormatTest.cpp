#include <gtest/gtest.h>
#include "app/TextFormat.h"

namespace {

using app::FormatText;
using app::TextArg;

TEST(TextFormat, FillsMatchingConversionsAndLeavesEveryOtherAsWritten) {
  const TextArg n1 = TextArg::Number(1);
  const std::pair<std::string, std::string> kCases[] = {
      {FormatText("cylinder %u of %u", {TextArg::Number(3), TextArg::Number(80)}),
       "cylinder 3 of 80"},
      {FormatText("%s on %c:", {TextArg::Text("Disk"), TextArg::Letter('A')}), "Disk on A:"},
      {FormatText("[%3d|%-4u|%02X]", {TextArg::Number(7), TextArg::Number(5), TextArg::Number(10)}),
       "[  7|5   |0A]"},
      {FormatText("100%% of %lu", {TextArg::Number(9)}), "100% of 9"},
      {FormatText("%.3s", {TextArg::Text("abcdef")}), "abc"},
      // Texts that ask for more, or other, arguments than the program gives.
      {FormatText("%s %s %n %p", {TextArg::Text("one")}), "one %s %n %p"},
      {FormatText("drive %s", {TextArg::Letter('A')}), "drive %s"},
      {FormatText("%c then %u", {n1}), "%c then 1"},
      {FormatText("%9999u", {n1}), "%9999u"},  // no width beyond 3 digits
      {FormatText("%*d", {n1}), "%*d"},
      {FormatText("ends with %", {n1}), "ends with %"},
      {FormatText("ready %c:", {}), "ready %c:"},
  };
  for (const auto& [actual, expected] : kCases) EXPECT_EQ(actual, expected);
}
}  // namespace
