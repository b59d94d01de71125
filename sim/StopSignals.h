#pragma once

#include <atomic>

// SIGINT and SIGTERM ask a simulator to stop: they set the flag its loops
// test, so that it leaves the line, and the line's link, tidy.
// Installs the handlers; answers the flag they set.
const std::atomic<bool>& StopOnSignals();
