// quillfnc -rate PATH...: rates saved messages with the user's installed
// rules, lists and band settings, as a session would, and prints a line per
// message (file, band, total, first decision) and how many fell in each
// band.  Nothing is deleted, rewritten or archived; no instance, display or
// network is needed.  A path that is a folder stands for every file in it.
// Returns the exit status: 0, or 1 when no message could be rated.  The
// command line makes sure there is at least one path.
#pragma once

#include <string>
#include <vector>

int rateMessages(const std::vector<std::string>& paths);
