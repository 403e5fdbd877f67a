#pragma once
// An echo sweep the test scripts: the addresses it is told answer at once, from within the
// request; every other request goes unanswered.

#include <QSet>

#include "base/AddressText.h"
#include "services/EchoSweep.h"

namespace nms::test {

class FakeEchoSweep final : public EchoSweep {
    Q_OBJECT
public:
    using EchoSweep::EchoSweep;

    void setAnswering(const QString& dotted, bool answering)
    {
        const quint32 address = Ipv4FromDottedText(dotted, nullptr);
        if (answering)
            answering_.insert(address);
        else
            answering_.remove(address);
    }

    bool send(quint32 address) override
    {
        if (answering_.contains(address))
            Q_EMIT replied(address, 1.5);
        return true;
    }
    void close() override { }

private:
    QSet<quint32> answering_;
};

} // namespace nms::test
