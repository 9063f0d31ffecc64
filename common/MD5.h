// MD5 message digest (RFC 1321), with the reference interface: MD5Init, any
// number of MD5Update calls, then MD5Final writes the 16-byte digest and
// clears the context.  The context belongs to the caller.
#pragma once

#include "common/CommonExport.h"

#include <cstdint>

struct MD5_CTX {
    uint32_t state[4];    // A, B, C, D
    uint32_t count[2];    // number of bits, modulo 2^64, low word first
    unsigned char buffer[64];
};

COMMONKIT_EXTERN_C COMMONKIT_API void MD5Init(MD5_CTX* context);
COMMONKIT_EXTERN_C COMMONKIT_API void MD5Update(MD5_CTX* context, const unsigned char* input,
                                                unsigned int length);
COMMONKIT_EXTERN_C COMMONKIT_API void MD5Final(unsigned char digest[16], MD5_CTX* context);
