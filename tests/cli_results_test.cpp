// The client's JSON reader (what it takes, what it refuses and says why, and what a record of the
// wrong shape reads as) and the axes of its charts.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "chart_axes.h"
#include "json_reader.h"
#include "percentile.h"
#include "run_results.h"

namespace {

using telvario::cli::JsonValue;
using telvario::cli::ParseJson;

TEST(JsonReader, ReadsValuesWithTheirEscapes) {
  std::string error;
  const auto value = ParseJson(
      " {\"a\": [1, -2.5e3, 0.125, true, false, null], \"s\": \"\\\"\\\\\\/\\b\\f\\n\\r\\t"
      "\\u00e9\\ud83d\\ude00\\udc00x\", \"a\": {\"deep\": [[]]}} ",
      &error);
  ASSERT_TRUE(value.has_value()) << error;
  EXPECT_EQ(value->kind(), JsonValue::Kind::Object);
  // The last member of a name counts; a member of another kind reads as the fallback.
  EXPECT_EQ((*value)["a"]["deep"].Items().size(), 1u);
  EXPECT_TRUE((*value)["a"].Items().empty());
  EXPECT_EQ((*value)["s"].Text(), "\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBDx");
  EXPECT_TRUE((*value)["missing"]["deeper"].IsNull());
  EXPECT_EQ((*value)["s"].Number(7), 7);
  const auto numbers = ParseJson("[1, -2.5e3, 0.125, true]", &error);
  ASSERT_TRUE(numbers.has_value());
  EXPECT_EQ(numbers->Items()[1].Number(0), -2500);
  EXPECT_EQ(numbers->Items()[2].Number(0), 0.125);
  EXPECT_TRUE(numbers->Items()[3].Bool(false));
}

TEST(JsonReader, RefusesWhatIsNotJsonAndSaysWhere) {
  const char* refused[] = {"",      "01",     "1.",        "+1",         ".5",
                           "1e",    "[1,]",   "{\"a\" 1}", "{\"a\":1,}", "\"\\x\"",
                           "\"a",   "tru",    "[1] 2",     "\"\\u12\"",  "\"tab\there\"",
                           "1e999", "{1: 2}", "nul"};
  for (const char* text : refused) {
    std::string error;
    EXPECT_FALSE(ParseJson(text, &error).has_value()) << text;
    EXPECT_NE(error.find(" at byte "), std::string::npos) << text << ": " << error;
  }
  std::string deep(65, '[');
  deep += std::string(65, ']');
  std::string error;
  EXPECT_FALSE(ParseJson(deep, &error).has_value());
  EXPECT_NE(error.find("nesting too deep"), std::string::npos);
  EXPECT_TRUE(ParseJson(deep.substr(1, 128), &error).has_value());
}

TEST(JsonReader, ARecordOfTheWrongShapeReadsAsUnknown) {
  const auto run = telvario::cli::ReadRunResults(
      "{\"measurement\": \"download\", \"result\": \"fast\", \"samples\": [{\"t\": 0.1}, "
      "{\"t\": 0.2, \"bytes\": 10, \"connections\": [4, \"x\"]}, 3]}",
      0);
  EXPECT_TRUE(run.readable);
  EXPECT_TRUE(std::isnan(run.result));
  ASSERT_EQ(run.samples.size(), 1u);  // the sample with no bytes is left out
  EXPECT_EQ(run.samples[0].connections[0], 4);
  EXPECT_TRUE(std::isnan(run.samples[0].connections[1]));
  const auto broken = telvario::cli::ReadRunResults("{\"measurement\": ", 0);
  EXPECT_FALSE(broken.readable);
  EXPECT_NE(broken.failure.find("cannot be read"), std::string::npos);
  EXPECT_EQ(telvario::NearestRank({1, 2, 3, 4, 5}, 50), 3);
  EXPECT_EQ(telvario::NearestRank({1, 2, 3, 4, 5}, 90), 5);
  EXPECT_EQ(telvario::NearestRank({1, 2, 3, 4, 5}, 0), 1);
  EXPECT_EQ(telvario::NearestRank({1, 2, 3, 4, 5}, 250), 5);
  EXPECT_EQ(telvario::NearestRank({1, 2, 3, 4, 5}, std::nan("")), 1);
  EXPECT_EQ(telvario::NearestRank({}, 50), 0);
}

// Ranges rounded out to whole steps of 1, 2 or 5, never a step past the data.
TEST(ChartAxes, RangesEndAtTheNextTick) {
  const telvario::cli::Axis axis = telvario::cli::NiceAxis(0, 0.14);
  EXPECT_DOUBLE_EQ(axis.step, 0.02);
  EXPECT_DOUBLE_EQ(axis.max, 0.14);
  EXPECT_EQ(axis.ticks.size(), 8u);
  EXPECT_DOUBLE_EQ(telvario::cli::NiceAxis(0, 17408.1).max, 20000);
  EXPECT_EQ(telvario::cli::TickText(0.06, 0.02), "0.06");
  const telvario::cli::Axis empty = telvario::cli::NiceAxis(0, 0);
  EXPECT_DOUBLE_EQ(empty.max, 1);
  const telvario::cli::Axis huge = telvario::cli::NiceAxis(-1e308, 1e308);
  EXPECT_FALSE(huge.ticks.empty());
}

}  // namespace
