#pragma once
// How many files the process may hold open at once.

namespace platform {

// Raises the soft limit on open files to the hard limit: a long capture's
// journal keeps every segment open, one file for every 32 MiB. 0, or the
// errno of the failure.
int raiseOpenFileLimit();

} // namespace platform
