// The page's scroll values as the scrolling element's script reports them: only a complete,
// well-formed answer is taken, so that a page that redefines what the script reads cannot
// make the handler scroll to a made-up place.
#include <gtest/gtest.h>

#include "host/ScrollMetricsText.h"

namespace norv::host {
namespace {

TEST(ScrollMetricsTextTest, TakesOnlyFourWholeNumbers) {
    auto metrics = parseScrollMetrics("120 0 40000 400");
    ASSERT_TRUE(metrics);
    EXPECT_EQ(metrics->scrollTop, 120);
    EXPECT_EQ(metrics->scrollLeft, 0);
    EXPECT_EQ(metrics->scrollHeight, 40000);
    EXPECT_EQ(metrics->scrollWidth, 400);
    EXPECT_EQ(parseScrollMetrics("-3 -1 10 10")->scrollTop, -3);

    for (const char* bad : {"", "1 2 3", "1 2 3 4 5", "1  2 3 4", " 1 2 3 4", "1 2 3 4 ", "1 2 3 x",
                            "1.5 2 3 4", "99999999999 0 0 0", "NaN 0 0 0"})
        EXPECT_FALSE(parseScrollMetrics(bad)) << '"' << bad << '"';
}

} // namespace
} // namespace norv::host
