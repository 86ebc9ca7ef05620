// The registry and the text format (whole pages of every family are read
// back by a real parser: metrics_parser_test).
#include "d2t/metrics/metrics.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>
#include <vector>

namespace m = d2t::metrics;

TEST(Exposition, EscapesLabelValuesAndFormatsNumbers) {
  EXPECT_EQ("a\\\\b\\\"c\\nd\te", m::escape_label_value("a\\b\"c\nd\te"));
  EXPECT_EQ("x\\\\y\\n\"", m::escape_help("x\\y\n\""));
  EXPECT_EQ("3", m::format_value(3));
  EXPECT_EQ("0.25", m::format_value(0.25));
  EXPECT_EQ("+Inf", m::format_value(std::numeric_limits<double>::infinity()));
  EXPECT_EQ("NaN", m::format_value(std::numeric_limits<double>::quiet_NaN()));
}

TEST(Registry, HistogramBucketsAreCumulativeAndCountersIgnoreNegative) {
  m::Histogram_Family h("h_seconds", "H.", {"lib"}, {1, 10});
  h.observe({"L"}, 0.5);
  h.observe({"L"}, 1);  // on a bound: counted in that bucket
  h.observe({"L"}, 50);
  h.observe({"L"}, std::numeric_limits<double>::quiet_NaN());
  std::string text;
  m::write_family(h.collect(), text);
  EXPECT_EQ(
      "# HELP h_seconds H.\n# TYPE h_seconds histogram\n"
      "h_seconds_bucket{lib=\"L\",le=\"1\"} 2\nh_seconds_bucket{lib=\"L\",le=\"10\"} 2\n"
      "h_seconds_bucket{lib=\"L\",le=\"+Inf\"} 3\nh_seconds_sum{lib=\"L\"} 51.5\n"
      "h_seconds_count{lib=\"L\"} 3\n",
      text);

  m::Counter_Family c("c_total", "C.", {"a", "b"});
  c.add({"x"}, 2);  // missing label value is ""
  c.add({"x", ""}, -5);
  EXPECT_EQ(2, c.value({"x", ""}));
}

TEST(Registry, RecordsFromManyThreadsWithoutLosingCounts) {
  const double before = m::moves("LIB-T", m::MOVE_LOAD, true);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 1000; ++i) {
        m::record_move("LIB-T", m::MOVE_LOAD, true, 1.5);
        m::record_http("/r" + std::to_string(t % 2), 200, 0.01);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(before + 8000, m::moves("LIB-T", m::MOVE_LOAD, true));
  EXPECT_EQ(4000, m::http_requests("/r1", 200));
}
