#pragma once
// What an element's feedback does: checked field by field, its element found by the hardware
// address of the address it reports, and then either recorded as a discovery answer (while a
// discovery collects answers) or, for the element shown, stored where the element confirms what
// was sent to it.
//
// Every feedback is handled on its own record with its own MAC window; windows run side by side,
// so one answer whose address cannot be resolved costs that answer alone. Nothing here waits for
// the operator: what goes wrong is posted as a notice and processing goes on.

#include <QByteArray>
#include <QObject>

#include "link/Feedback.h"
#include "session/AnswerCollector.h"

namespace nms {

class ConsoleState;
class ElementStore;
class ElementSender;
class MacLookup;
class Notices;

class FeedbackProcessor : public QObject {
    Q_OBJECT
public:
    FeedbackProcessor(ConsoleState& state, ElementStore& store, MacLookup& macLookup, ElementSender& sender,
                      Notices& notices, QObject* parent = nullptr);

    // Feedbacks in hand at once. Outside a discovery an answer is expected from one element and
    // each may cost the operator a notice: a flood is held to a few dozen. A discovery's answers
    // all arrive at once and are all taken, up to what memory allows for (about 1 kB each: 64 MB).
    static constexpr int OrdinaryLimit = 33;
    static constexpr int DiscoveryLimit = 65536;

    // Takes one received feedback (40 or 41 bytes).
    void Process_Feedback(const QByteArray& datagram);

    // Asked in turn, once an answer's MAC is found, before the selected-element branch.
    void addCollector(AnswerCollector* collector) { collectors_.append(collector); }

    // The last feedback received, as the console keeps it (ElementMAC from the last MAC found,
    // Attenuation from the last decoder).
    ElementFeedback LastFeedback;

    int inHand() const { return inHand_; }
    int dropped() const { return dropped_; }

Q_SIGNALS:
    // Outside a discovery, after every feedback handled: the list follows the database.
    void reloadRequested();
    // One feedback has been handled to its end.
    void feedbackHandled();
    // The element shown answered what was sent to it, and what it confirmed was stored: the
    // fields it did not confirm by their names ("Element IP", ...), none when all were.
    void configurationAnswered(const QString& key, const QStringList& refused);

private:
    void macFound(ElementFeedback feedback, const QString& macText);
    void selectedBranch(ElementFeedback& feedback);
    void finish();

    ConsoleState& state_;
    ElementStore& store_;
    MacLookup& macLookup_;
    ElementSender& sender_;
    Notices& notices_;
    QList<AnswerCollector*> collectors_;
    int inHand_ = 0;
    int dropped_ = 0;
};

// The entries a discovery answer records, in the order of a new section.
QList<QPair<QString, QString>> DiscoveryEntries(const ElementFeedback& feedback);

} // namespace nms
