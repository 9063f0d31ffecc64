// quillfnc -probability PATH...: what SPAMPROBABILITY() answers for saved
// messages (files, or folders and their sub-folders), without running the
// rules: one line per message, "file<TAB>probability", then how many were
// rated and how fast:
//   rated 1250 messages in 0.31 s (4032 msgs/s)
// The store is read as a session reads it; nothing is written.  Measures
// the classifier (scripts/learn-quality.sh) and shows a user what it has
// learned.  Returns the exit status: 0, or 1 when no message was rated (the
// command line makes sure there is at least one path).
#pragma once

#include <string>
#include <vector>

int probabilityCommand(const std::vector<std::string>& paths);
