#pragma once
// Something that takes element answers for itself before they are treated as the answer to a
// configuration: a running discovery, a manual add waiting for its element.

#include "link/Feedback.h"

namespace nms {

class AnswerCollector {
public:
    virtual ~AnswerCollector() = default;
    // True when the answer (checked, its MAC found) was taken; false leaves it to the next.
    virtual bool collect(const ElementFeedback& feedback) = 0;
};

} // namespace nms
