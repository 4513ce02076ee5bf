#pragma once

#include <functional>
#include <memory>

class Command;

// Where a command is started without waiting for it: one at a time, for one
// window, with no widgets in sight of the caller. done runs once, later, on
// the thread the queue lives on, when the command has finished or was
// cancelled; the command tells which (succeeded(), wasCancelled(), error()).
// A command that is cancelled may need a moment more to wind down: the queue
// keeps it until it has, and done does not wait for that.
class CommandQueue
{
public:
    using Done = std::function<void(Command &command)>;

    virtual ~CommandQueue() = default;

    // Starts command. false, with the command not started and done never
    // called, while another command runs.
    virtual bool start(std::shared_ptr<Command> command, Done done) = 0;
    // Asks the running command to stop; its done follows.
    virtual void cancel() = 0;
    virtual bool isBusy() const = 0;
};
