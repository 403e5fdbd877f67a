#include "ElementControl.h"

#include "ElementSimulator.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdio>

namespace sim {

namespace {

struct ActionName {
    const char* command;
    const char* state; // what the element says once the command is done
};

constexpr std::array<ActionName, 4> kActions {{
    {"down", "DOWN"},
    {"up", "UP"},
    {"silent", "SILENT"},
    {"sound", "SOUND"},
}};

} // namespace

std::optional<ControlCommand> parseControlLine(const QByteArray& line, int elementCount, QString* error)
{
    const QList<QByteArray> words = line.simplified().toLower().split(' ');
    error->clear();
    if (words.value(0).isEmpty())
        return std::nullopt;
    const auto known = std::find_if(kActions.begin(), kActions.end(),
                                    [&](const ActionName& name) { return words.at(0) == name.command; });
    ControlCommand command;
    bool numbered = words.size() == 1;
    if (words.size() == 2) {
        command.element = words.at(1).toInt(&numbered);
        numbered = numbered && command.element >= 1 && command.element <= elementCount;
    }
    if (known == kActions.end() || !numbered) {
        *error = QStringLiteral("ignoring \"%1\": give down, up, silent or sound, then nothing or an element from 1 "
                                "to %2")
                     .arg(QString::fromLocal8Bit(line.simplified()))
                     .arg(elementCount);
        return std::nullopt;
    }
    command.action = ControlAction(known - kActions.begin());
    return command;
}

ElementControl::ElementControl(std::vector<ElementSimulator*> elements, QObject* parent)
    : QObject(parent), m_elements(std::move(elements))
{
}

void ElementControl::execute(const QByteArray& line)
{
    QString error;
    if (const std::optional<ControlCommand> command = parseControlLine(line, int(m_elements.size()), &error)) {
        apply(*command);
    } else if (!error.isEmpty()) {
        std::fprintf(stderr, "orbilane-element-sim: %s\n", qPrintable(error));
        std::fflush(stderr);
    }
}

void ElementControl::apply(const ControlCommand& command)
{
    const int first = command.element > 0 ? command.element : 1;
    const int last = command.element > 0 ? command.element : int(m_elements.size());
    for (int i = first; i <= last; ++i) {
        ElementSimulator* element = m_elements.at(std::size_t(i - 1));
        switch (command.action) {
        case ControlAction::Down: element->setOffNetwork(true); break;
        case ControlAction::Up: element->setOffNetwork(false); break;
        case ControlAction::Silent: element->setSilent(true); break;
        case ControlAction::Sound: element->setSilent(false); break;
        }
        std::printf("%s %d\n", kActions.at(std::size_t(command.action)).state, i);
        std::fflush(stdout);
    }
}

void ElementControl::toggleNetwork()
{
    const bool allOff = std::all_of(m_elements.begin(), m_elements.end(),
                                    [](const ElementSimulator* element) { return element->offNetwork(); });
    apply(ControlCommand {allOff ? ControlAction::Up : ControlAction::Down, 0});
}

void ElementControl::toggleSilence()
{
    const bool allSilent = std::all_of(m_elements.begin(), m_elements.end(),
                                       [](const ElementSimulator* element) { return element->silent(); });
    apply(ControlCommand {allSilent ? ControlAction::Sound : ControlAction::Silent, 0});
}

} // namespace sim
