// The main window's messages for a test that expects none: each one shown fails the test
// with its text.
#pragma once

#include "monitor/monMessages.h"

#include <gtest/gtest.h>

#include <string>

namespace qz::test {

class NoMessages : public ImonMessages {
public:
    void Show(const std::string&, TmonMessageIcon, const std::string& t) override {
        ADD_FAILURE() << "unexpected message: " << t;
    }
};

} // namespace qz::test
