// Locks on the session's shared files, for the platform's libraries that keep
// state there (kernel objects, the message layer's tables, the settings store).
#pragma once

namespace plat {

// flock(fd, op), taken again when a signal interrupts the wait: 0, or -1 with
// errno set.
int FlockRetry(int fd, int op);

}  // namespace plat
