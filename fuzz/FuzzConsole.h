#pragma once
// The console's core shared by every input of one fuzzing run: created once, on free loopback
// ports, with recorded notices and a neighbour table that knows every address (so no input waits
// out the MAC lookup window). No window and no QApplication: the core has no widgets.

#include <QByteArray>
#include <QString>

#include "services/NeighbourTable.h"
#include "support/CoreFixture.h"

namespace nms::fuzz {

// Every address resolves, to 02:00 followed by its four bytes.
class EveryAddressTable final : public NeighbourTable {
public:
    QByteArray lookup(quint32 address) override;
    void solicit(quint32) override { }
    static QByteArray MacFor(quint32 address);
};

// The key of the element the console shows while fuzzing: the one at 192.168.1.20.
QString SelectedKey();
// The database every input starts from: that element and a decoder next to it.
QByteArray SeedDatabase();

// The core, made on first use.
test::CoreFixture& Console();

// Puts the database back to `contents` and the console back to showing the selected element (or
// nothing, when the database does not hold it), so that no input sees another's effects.
void ResetConsole(const QByteArray& contents);

// How many feedbacks the core has handled so far (some are handled at once, inside the call that
// hands them over; the others from the event loop).
int FeedbacksHandled();
// Runs the event loop until FeedbacksHandled() reaches `total`. Aborts (a hang for the fuzzer)
// when that takes longer than the MAC lookup window allows.
void AwaitFeedbacks(int total);

} // namespace nms::fuzz
