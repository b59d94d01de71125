#pragma once

// Classes and functions that the host program defines and a driver module
// resolves from the host process at load time. A module builds with hidden
// visibility; these stay visible so that its references reach the host.
#define SMD_HOST_API __attribute__((visibility("default")))
