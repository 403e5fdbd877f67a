#pragma once
// Control of the running elements, from the --control FIFO and from signals: off the network and
// back, silent and sounding again. Each element a command reaches prints where it now stands,
// one flushed line on standard output: "DOWN 3", "UP 3", "SILENT 3", "SOUND 3".

#include <QByteArray>
#include <QObject>

#include <optional>
#include <vector>

namespace sim {

class ElementSimulator;

enum class ControlAction { Down, Up, Silent, Sound };

struct ControlCommand {
    ControlAction action = ControlAction::Down;
    int element = 0; // 1-based; 0: every element of the process
};

// "down", "up", "silent" or "sound", then an element number from 1 to elementCount or nothing.
// nullopt for a blank line (error left empty) or a wrong one (error says why).
std::optional<ControlCommand> parseControlLine(const QByteArray& line, int elementCount, QString* error);

class ElementControl : public QObject {
    Q_OBJECT
public:
    explicit ElementControl(std::vector<ElementSimulator*> elements, QObject* parent = nullptr);

    // A line from the FIFO; a wrong one gets one line on standard error and changes nothing.
    void execute(const QByteArray& line);
    void apply(const ControlCommand& command);
    // SIGUSR1: every element off the network, or back on if all of them were off.
    void toggleNetwork();
    // SIGUSR2: every element silent, or sounding again if all of them were silent.
    void toggleSilence();

private:
    std::vector<ElementSimulator*> m_elements;
};

} // namespace sim
