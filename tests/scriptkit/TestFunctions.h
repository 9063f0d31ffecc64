// Rule functions the test program exports for the engine to find by name,
// one of each shape: no result, number, truth and text results, text and
// number arguments.  Notes go to a per-thread list; FreeString counts.
#pragma once

#include <atomic>
#include <string>
#include <vector>

std::vector<std::string>& threadNotes();
extern std::atomic<int> freedTexts;
extern std::atomic<int> returnedTexts;

// The #declare lines for the functions above, as an include file would hold.
extern const char* const kTestDeclarations;
