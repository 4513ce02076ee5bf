#pragma once

#include <functional>
#include <memory>

class Command;

// Where long work is started without waiting for it: one command at a time,
// its progress shown by whoever implements this (the window's runner shows
// a dialog with 取消). done runs once, later, on the window's thread, when
// the command has finished or was cancelled.
class CommandQueue
{
public:
    using Done = std::function<void(Command &command)>;

    virtual ~CommandQueue() = default;
    // false (the command not started, done never run) while another runs.
    virtual bool start(const std::shared_ptr<Command> &command, Done done) = 0;
    virtual bool isBusy() const = 0;
    virtual void cancel() = 0;
};
