#pragma once

#include "commands/command.h"
#include "commands/commandqueue.h"

#include <QObject>

// Runs each command on its thread at once and hands it back when done,
// without a window: for the suites of what starts commands.
class InstantCommands : public QObject, public CommandQueue
{
    Q_OBJECT

public:
    bool start(std::shared_ptr<Command> command, Done done) override
    {
        if (m_current)
            return false;
        m_current = command;
        connect(command.get(), &Command::finished, this, [this, done = std::move(done)] {
            const std::shared_ptr<Command> finished = std::exchange(m_current, nullptr);
            done(*finished);
        }, Qt::SingleShotConnection);
        command->start();
        return true;
    }
    bool isBusy() const override { return m_current != nullptr; }
    void cancel() override
    {
        if (m_current)
            m_current->cancel();
    }

private:
    std::shared_ptr<Command> m_current;
};
