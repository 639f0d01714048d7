#pragma once

#include <QString>
#include <optional>

class ComTolvoTolvoInterface;

// tolvoctl remote add HOST [--transport CMD] | remove HOST | list: sets a host up
// through its transport, then adds it to or takes it out of Tolvo's hosts, through the
// running Tolvo or, when none runs, in the stored defaults that it reads when it starts.
// Returns the exit code; a usage error is 2.
namespace RemoteCommand {

struct Arguments
{
    QString action;
    QString host;
    std::optional<QString> transport;
};

// Why the arguments make no command, as a usage error; nothing when they do.
std::optional<QString> problem(const Arguments &arguments);

int run(ComTolvoTolvoInterface &tolvo, const Arguments &arguments);

} // namespace RemoteCommand
