// launchSibling: starts one of the sibling programs the tray menu and the
// first-run dialog offer (archive viewer, log viewer, configuration
// assistant) and leaves it running on its own.
//
// argv[0] is a path, or with searchPath a name looked up in PATH.  Returns
// 0 when the program started, else the error number; a failure is logged
// at level 1 as "Unable to launch '<command line>', error <n>".  The child
// is reaped in the background, so none is left a zombie.
#pragma once

#include <string>
#include <vector>

int launchSibling(const std::vector<std::string>& argv, bool searchPath);
