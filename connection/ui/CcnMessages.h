// Error boxes and Yes/No questions of the connection dialogs behind a small interface, so
// tests can see what the operator would be told and answer the questions.
#pragma once

#include <string>

class QWidget;

namespace qz {

class IccnMessages {
public:
    virtual ~IccnMessages() = default;
    // An error box captioned with the application title.
    virtual void Error(QWidget* parent, const std::string& text) = 0;
    // A question with Yes/No buttons and the question icon; true for Yes.
    virtual bool Question(QWidget* parent, const std::string& text) = 0;
};

// The real message boxes.
class TccnMessageBoxes : public IccnMessages {
public:
    void Error(QWidget* parent, const std::string& text) override;
    bool Question(QWidget* parent, const std::string& text) override;
};

// The process-wide real boxes, used when a window is given none.
IccnMessages& DefaultMessages();

} // namespace qz
