// The rows of a journal as plain lists, for tests that check what a recording stored. A
// journal that cannot be read fails the calling test.
#pragma once

#include "common/DateTime.h"
#include "journal/jnJournal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qz::test {

inline std::vector<TjnOutageView> JournalOutages(TjnReader& r) {
    std::vector<TjnOutageView> v;
    std::string e;
    EXPECT_TRUE(r.ForEachOutage([&](const TjnOutageView& o) { return v.push_back(o), true; }, e))
        << e;
    return v;
}

// The meter times of the records, in the order stored.
inline std::vector<TDateTime> JournalRecordTimes(TjnReader& r) {
    std::vector<TDateTime> v;
    std::string e;
    EXPECT_TRUE(r.ForEachRecordTime([&](int64_t, TDateTime t) { return v.push_back(t), true; }, e))
        << e;
    return v;
}

} // namespace qz::test
