// The loaded security-package library of the process (for AUTH MSN).
//
// load() opens the library named by the setting SecurityLibrary and finds
// the package "MSN"; a failure to open the library is retried at the next
// call, any later failure holds for the rest of the process.  unload() at
// shutdown.  Thread-safe.
#pragma once

#include "upstream/SecurityPackage.h"

class SecurityInterface
{
public:
    // True when the interface is loaded and offers "MSN".
    static bool available();
    // The function table, or null when not available().
    static const QfSecurityFunctionTable* table();
    static void unload();

    static constexpr unsigned long kNoPackage = 256;
};
