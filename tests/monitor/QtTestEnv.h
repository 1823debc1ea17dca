// One QApplication (offscreen) for the window tests, and a private settings folder so no
// test touches the real home folder.
#pragma once

#include "tests/support/QtTestApp.h"

namespace qz::test {

using QtEnvironment = QtTestEnvironment;

inline ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtTestEnvironment("test_monitor"));

} // namespace qz::test
