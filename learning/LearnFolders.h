// LearnFolders: where learning happens on the user's say-so without a
// command: messages saved into "<data root>/learn/spam/" or
// "<data root>/learn/ham/" are learned as that kind at the start of the next
// session, and removed once the store has committed them.  A message that
// could not be read, or a commit that failed, leaves the files where they
// are, to be tried again next time: nothing saved there is lost unlearned.
// Files whose names start with "." or end in ".tmp" are being written and
// are left alone.
#pragma once

#include "learning/TokenStore.h"

#include <string>
#include <vector>

// "<dataRoot>/learn", and the kind's folder under it.
std::string learnRoot(const std::string& dataRoot);
std::string learnFolder(const std::string& dataRoot, MailKind kind);
// Makes the learn folder and its spam and ham folders when missing; false
// when the learn folder is not there afterwards.
bool makeLearnFolders(const std::string& dataRoot);
// The message files a path stands for: the file itself, or every file in
// the folder and its sub-folders (names starting with "." left out), in
// name order.  False when the path is neither.
bool messageFiles(const std::string& path, std::vector<std::string>& files);
// Learns the two folders' files in one batch and removes them after the
// commit; returns how many files were taken in.  Failures are logged.
int learnSavedMessages(const std::string& dataRoot);
