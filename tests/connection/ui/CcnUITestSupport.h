// Shared pieces of the dialog tests: an offscreen application, messages that record what
// the operator would be told and answer the questions, and connection builders.
#pragma once

#include "connection/CcnConnectionList.h"
#include "connection/ui/CcnMessages.h"
#include "tests/support/QtTestApp.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace qz::test {

inline ::testing::Environment* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(
    new QtTestEnvironment("test_connection_ui", QString::fromUtf8("Монитор Каврен-QZ2")));

inline QApplication& App() {
    return *QtTestEnvironment::App;
}

class TFakeMessages : public IccnMessages {
public:
    void Error(QWidget*, const std::string& text) override { Errors.push_back(text); }
    bool Question(QWidget*, const std::string& text) override {
        Questions.push_back(text);
        if (Answers.empty()) return false;
        const bool a = Answers.front();
        Answers.pop_front();
        return a;
    }
    std::vector<std::string> Errors;
    std::vector<std::string> Questions;
    std::deque<bool> Answers;
};

// The options of the monitor: six QZ2 types, the family protocol, four connection modes.
inline void MonitorOptions(TccnConnectionListUIOptions& o) {
    for (TDeviceType t : {dtQZ2, dtQZ2M, dtQZ2C, dtQZ2A, dtQZ2AM, dtQZ2AC})
        o.DeviceTypeOptions().AddDeviceTypeOptions(t, SetBit(dptKavren), 15);
}

// Everything the model knows, for the editor's other frames.
inline void AllOptions(TccnConnectionListUIOptions& o) {
    for (int t = 0; t < DeviceTypeCount; ++t)
        o.DeviceTypeOptions().AddDeviceTypeOptions(TDeviceType(t), 15, 31);
}

inline std::unique_ptr<TccnConnection> MakeConnection(TDeviceType type, int32_t number,
                                                      TConModeType mode = cmtDirect232,
                                                      TDeviceProtocolType protocol = dptKavren) {
    auto c = std::make_unique<TccnConnection>();
    c->SetCustomDevice(CreateDevice(type));
    c->CustomDevice()->SetFactoryNum(number);
    c->SetCustomDeviceProtocol(CreateDeviceProtocol(protocol));
    c->SetCustomConMode(CreateConMode(mode));
    return c;
}

// Adds a connection and returns its identifier.
inline int32_t AddTo(TccnConnectionList& list, TDeviceType type, int32_t number,
                     TConModeType mode = cmtDirect232) {
    auto c = MakeConnection(type, number, mode);
    list.AddConnection(*c);
    return c->ConID;
}

} // namespace qz::test
