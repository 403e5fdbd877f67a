#include "session/FeedbackProcessor.h"

#include "base/Notices.h"
#include "database/ElementRecords.h"
#include "database/ElementStore.h"
#include "link/Datagrams.h"
#include "services/MacLookup.h"
#include "session/ConsoleState.h"
#include "session/ElementSender.h"

namespace nms {

namespace {

const QChar CR(u'\r');

QString SaveMessage(const char* field)
{
    return QStringLiteral("An error occured while saving '%1':").arg(QLatin1String(field)) + CR
        + QStringLiteral("Feedback is corrupted.");
}

// What the answer is compared with: the configuration sent to the element, or, when none was
// sent since it was selected, the record the editor was loaded with.
ConfigFields Baseline(const ConsoleState& state)
{
    if (state.lastSent())
        return *state.lastSent();
    return StoredConfigFields(state.selected());
}

} // namespace

QList<QPair<QString, QString>> DiscoveryEntries(const ElementFeedback& feedback)
{
    QList<QPair<QString, QString>> entries = {
        {QLatin1String(ElementKeys::name), FitElementName(feedback.ElementName)},
        {QLatin1String(ElementKeys::ip), feedback.ElementIP},
        {QLatin1String(ElementKeys::mask), feedback.ElementMask},
        {QLatin1String(ElementKeys::gw), feedback.ElementGW},
        {QLatin1String(ElementKeys::remote), feedback.RemoteIP},
        {QLatin1String(ElementKeys::input), QString::number(feedback.AudioInput)},
        {QLatin1String(ElementKeys::type), QString::number(feedback.AudioType)},
        {QLatin1String(ElementKeys::tx), QString::number(feedback.AudioTX)},
        {QLatin1String(ElementKeys::role), QString::number(feedback.Role)},
        {QLatin1String(ElementKeys::sn), QString::number(feedback.SerialNumber)},
    };
    if (feedback.Role == RoleDecoder)
        entries.append({QLatin1String(ElementKeys::att), QString::number(feedback.Attenuation)});
    return entries;
}

FeedbackProcessor::FeedbackProcessor(ConsoleState& state, ElementStore& store, MacLookup& macLookup,
                                     ElementSender& sender, Notices& notices, QObject* parent)
    : QObject(parent), state_(state), store_(store), macLookup_(macLookup), sender_(sender), notices_(notices)
{
}

void FeedbackProcessor::Process_Feedback(const QByteArray& datagram)
{
    if (inHand_ >= (state_.discovering() ? DiscoveryLimit : OrdinaryLimit)) {
        ++dropped_;
        return;
    }
    ++inHand_;
    ElementFeedback feedback = ParseFeedback(datagram, LastFeedback);
    LastFeedback = feedback;

    const FeedbackCheck check = ValidateFeedback(feedback);
    if (check != FeedbackCheck::Ok) {
        // The reply timer keeps running: the operator also sees the timeout after this.
        notices_.error(ProgramTitle(), FeedbackCheckMessage(check));
        finish();
        return;
    }
    sender_.stopReplyTimer();
    // The address the element reports: after a ConfigWrite, its new one.
    const QString ip = feedback.ElementIP;
    macLookup_.FindMac(ip, this, [this, feedback = std::move(feedback)](const QString& macText) mutable {
        macFound(std::move(feedback), macText);
    });
}

void FeedbackProcessor::macFound(ElementFeedback feedback, const QString& macText)
{
    if (macText.isEmpty()) {
        notices_.error(ProgramTitle(),
                       QStringLiteral("An error occured while retrieving 'Element MAC':") + CR
                           + QStringLiteral("Feedback is corrupted."));
        finish();
        return;
    }
    feedback.ElementMAC = macText;
    LastFeedback.ElementMAC = macText;
    // The branch is chosen now: an answer whose lookup outlasted its discovery is ordinary feedback.
    const bool collected =
        std::any_of(collectors_.cbegin(), collectors_.cend(),
                    [&feedback](AnswerCollector* collector) { return collector->collect(feedback); });
    if (!collected)
        selectedBranch(feedback);
    finish();
}

void FeedbackProcessor::selectedBranch(ElementFeedback& feedback)
{
    if (!state_.hasSelection() || state_.selectedMacText() != feedback.ElementMAC) {
        notices_.error(ProgramTitle(),
                       QStringLiteral("The response received does not match the selected element.") + CR
                           + QStringLiteral("Cannot save this element info."));
        return;
    }
    const QString key = MacTextToKey(feedback.ElementMAC);
    if (store_.read(key).entryCount > MaxSoundSectionEntries) {
        notices_.error(ProgramTitle(),
                       QStringLiteral("The data stored in your computer about this element, is corrupted.") + CR
                           + QStringLiteral("Cannot save this element info."));
        return;
    }

    // Every field is decided first, then everything confirmed goes to the file in one rewrite:
    // the element is never stored half old, half new.
    const ConfigFields sent = Baseline(state_);
    QList<QPair<QString, QString>> entries;
    bool saveFailed = false;
    QStringList refused;
    auto confirm = [&](bool confirmed, const char* entry, const QString& value, const char* field) {
        if (confirmed) {
            entries.append({QLatin1String(entry), value});
            return;
        }
        saveFailed = true;
        refused.append(QLatin1String(field));
        notices_.error(ProgramTitle(), SaveMessage(field));
    };
    auto selector = [](int position, quint8 reported) { return position >= 0 && position == int(reported); };
    confirm(sent.name.trimmed().toUpper() == feedback.ElementName.trimmed().toUpper(), ElementKeys::name,
            FitElementName(sent.name), "Element Name");
    confirm(sent.ip == feedback.ElementIP, ElementKeys::ip, sent.ip, "Element IP");
    confirm(sent.mask == feedback.ElementMask, ElementKeys::mask, sent.mask, "Element Mask");
    confirm(sent.gw == feedback.ElementGW, ElementKeys::gw, sent.gw, "Element GW");
    confirm(sent.remote == feedback.RemoteIP, ElementKeys::remote, sent.remote, "Remote IP");
    confirm(selector(sent.input, feedback.AudioInput), ElementKeys::input, QString::number(sent.input), "Audio Input");
    confirm(selector(sent.type, feedback.AudioType), ElementKeys::type, QString::number(sent.type), "Audio Type");
    confirm(selector(sent.tx, feedback.AudioTX), ElementKeys::tx, QString::number(sent.tx), "Audio TX");

    entries.append({QLatin1String(ElementKeys::role), QString::number(feedback.Role)});
    if (feedback.Role != RoleEncoder && feedback.Role != RoleDecoder) {
        saveFailed = true;
        refused.append(QStringLiteral("Role"));
    }
    entries.append({QLatin1String(ElementKeys::sn), QString::number(feedback.SerialNumber)});
    // Every role: an encoder's section gets the attenuation of the last decoder that answered,
    // raised to what the slider can show.
    if (feedback.Attenuation < AttenuationMinimum) {
        feedback.Attenuation = AttenuationMinimum;
        LastFeedback.Attenuation = AttenuationMinimum;
    }
    entries.append({QLatin1String(ElementKeys::att), QString::number(feedback.Attenuation)});

    if (!store_.write(key, entries)) {
        notices_.error(QStringLiteral("Error!"),
                       QStringLiteral("The local database (%1) could not be written.").arg(store_.path()) + CR
                           + QStringLiteral("The element's answer was not saved."));
        return;
    }
    Q_EMIT configurationAnswered(key, refused);
    if (!saveFailed)
        notices_.information(QStringLiteral("Configuration changed"),
                             QStringLiteral("New configuration has been sucessfuly saved and loaded!"));
}

void FeedbackProcessor::finish()
{
    --inHand_;
    // Outside a discovery the window and the list follow the database after every answer.
    if (!state_.discovering())
        Q_EMIT reloadRequested();
    Q_EMIT feedbackHandled();
}

} // namespace nms
