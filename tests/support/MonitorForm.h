// The main window as the window tests build it: its settings file in the private home, no
// message box, and fixed formats so that the labels read the same on every machine.
// Header-only, for the tests that link the monitor's window already.
#pragma once

#include "monitor/monMain.h"
#include "monitor/monMessages.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace qz::test {

// The messages for a test that expects none: each one shown fails the test with its text.
class NoMessages : public ImonMessages {
public:
    void Show(const std::string&, TmonMessageIcon, const std::string& t) override {
        ADD_FAILURE() << "unexpected message: " << t;
    }
};

// '.' as the decimal separator and `time` for every date and time.
inline TmonFormatContext FixedFormat(const std::string& time = "t") {
    TmonFormatContext ctx;
    ctx.DecimalSeparator = '.';
    ctx.FormatDateTime = [time](TDateTime) { return time; };
    return ctx;
}

// The window's settings in `exe`.ini, no message expected, the fixed formats; the threads
// and the folders are the test's to set.
inline TmonFormOptions QuietFormOptions(const char* exe) {
    TmonFormOptions o;
    o.Settings = std::make_unique<TmonIniFile>(kMonitorProductName, exe);
    o.Messages = std::make_unique<NoMessages>();
    o.Format = FixedFormat();
    return o;
}

} // namespace qz::test
