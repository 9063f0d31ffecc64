// MessageDescriptor: names one message to the filter engine.  The session
// builds one for each message it hands to evaluate(); the texts it points to
// must outlive the call.
#pragma once

#include <cstdint>

struct MessageDescriptor {
    uint32_t recordSize = 44;
    const char* sender = "remote.user@isp.example";   // read only by the virus scanner
    const char* recipient = "local.user@localhost";    // read only by the virus scanner
    const char* path = nullptr;                         // the spooled message file
    uint32_t id = 0;                                    // a fresh GetNextId value
    uint32_t mode = 1;
    uint32_t reserved[3] = {1, 1, 1};
    bool flags[2] = {false, false};
    uint32_t last = 0;
};
