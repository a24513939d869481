// The line that follows the report of a live capture that lost frames.

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "report/drop_notice.h"

using namespace tallywire;

namespace {

struct notice_case {
    const char* name;
    std::optional<drop_counts> drops;
    std::string expected;
};

void PrintTo(const notice_case& c, std::ostream* out) { *out << c.name; }

class DropNotice : public ::testing::TestWithParam<notice_case> {};

TEST_P(DropNotice, NamesTheLossOrSaysNothing) {
    capture_outcome outcome;
    outcome.drops = GetParam().drops;
    EXPECT_EQ(drop_notice(outcome), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Figures, DropNotice,
    ::testing::Values(
        notice_case{"NoFigures", std::nullopt, ""},
        notice_case{"NothingLost", drop_counts{0, 0}, ""},
        notice_case{"OneByTheKernel", drop_counts{1, 0},
                    "tallywire: 1 frame dropped (1 by the kernel, 0 by the interface): the "
                    "counts are short by that many\n"},
        notice_case{"ByBoth", drop_counts{1234, 5},
                    "tallywire: 1239 frames dropped (1234 by the kernel, 5 by the interface): "
                    "the counts are short by that many\n"},
        notice_case{"ByTheInterfaceAlone", drop_counts{0, 4294967295u},
                    "tallywire: 4294967295 frames dropped (0 by the kernel, 4294967295 by the "
                    "interface): the counts are short by that many\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
