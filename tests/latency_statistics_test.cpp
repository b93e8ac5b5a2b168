// The statistics people read most, on fixed inputs: nearest-rank percentiles, the summary of a
// latency run (its loss, jitter and spread), and the trimmed mean the responsiveness figure
// rests on.
#include <gtest/gtest.h>

#include <vector>

#include "latency_statistics.h"
#include "loaded_latency.h"

namespace telvario {
namespace {

TEST(LatencyStatistics, NearestRankIsTheSmallestValueWithItsShareAtOrBelow) {
  const std::vector<double> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(NearestRank(ten, 50), 5);
  EXPECT_EQ(NearestRank(ten, 90), 9);
  EXPECT_EQ(NearestRank(ten, 99), 10);
  EXPECT_EQ(NearestRank(ten, 0), 1);
  EXPECT_EQ(NearestRank({7}, 50), 7);
  EXPECT_EQ(NearestRank({}, 50), 0);
  // Of 400 values p99 is the 396th, p90 the 360th.
  std::vector<double> many;
  for (int i = 1; i <= 400; ++i) many.push_back(i);
  EXPECT_EQ(NearestRank(many, 99), 396);
  EXPECT_EQ(NearestRank(many, 90), 360);
}

TEST(LatencyStatistics, ASummaryOfAnsweredAndLostProbes) {
  // In send order: 40, lost, 44, 41, lost, 42 ms.
  const std::vector<LatencySample> samples = {{0, true, 40},  {10, false, 0}, {20, true, 44},
                                              {30, true, 41}, {40, false, 0}, {50, true, 42}};
  const LatencyStatistics s = Summarize(samples);
  EXPECT_EQ(s.sent, 6);
  EXPECT_EQ(s.received, 4);
  EXPECT_DOUBLE_EQ(s.loss, 2.0 / 6);
  EXPECT_EQ(s.min, 40);
  EXPECT_EQ(s.max, 44);
  EXPECT_EQ(s.median, 41);  // the second of four
  EXPECT_EQ(s.mean, 41.75);
  EXPECT_EQ(s.p90, 44);
  // |44-40| + |41-44| + |42-41| over three differences between consecutive answers.
  EXPECT_NEAR(s.jitter, 8.0 / 3, 0.001);
  // Nothing answered: the loss alone.
  const LatencyStatistics none = Summarize({{0, false, 0}, {10, false, 0}});
  EXPECT_EQ(none.received, 0);
  EXPECT_EQ(none.loss, 1);
  EXPECT_EQ(none.median, 0);
  EXPECT_EQ(Summarize({}).loss, 0);
}

TEST(LatencyStatistics, TheTrimmedMeanLeavesOutTheSlowestTwentieth) {
  std::vector<double> forty(38, 10.0);
  forty.push_back(500);
  forty.push_back(1000);
  EXPECT_DOUBLE_EQ(TrimmedMean(forty, 0.95), 10.0);  // two of forty left out
  std::vector<double> nineteen(18, 10.0);
  nineteen.push_back(29);
  EXPECT_DOUBLE_EQ(TrimmedMean(nineteen, 0.95), 11.0);  // none of nineteen
  EXPECT_DOUBLE_EQ(TrimmedMean({3}, 0.95), 3.0);
  EXPECT_DOUBLE_EQ(TrimmedMean({}, 0.95), 0.0);
}

}  // namespace
}  // namespace telvario
