// The security-package interface that the MSN login loads at run time.
//
// A package library (named by the setting SecurityLibrary) exports
// InitSecurityInterfaceA, which returns its function table.  Statuses are
// 0 for success, positive for "continue" and negative for failure.  Tokens
// are bytes; the caller gives an output buffer of the package's maxToken
// bytes and the package writes the token's length into *outputLength.
#pragma once

#include <cstddef>

extern "C" {

struct QfSecPackageInfo {
    char name[64];
    unsigned long maxToken;
};

struct QfSecurityFunctionTable {
    unsigned version;   // 1
    long (*EnumerateSecurityPackages)(unsigned long* count, const QfSecPackageInfo** packages);
    long (*QuerySecurityPackageInfo)(const char* package, QfSecPackageInfo* info);
    long (*AcquireCredentialsHandle)(const char* package, const char* user, const char* domain,
                                     const char* password, void** credentials);
    // context: the previous step's, or null; *newContext receives this step's.
    long (*InitializeSecurityContext)(void* credentials, void* context, void** newContext,
                                      const char* target, const unsigned char* input,
                                      unsigned long inputLength, unsigned char* output,
                                      unsigned long* outputLength);
    long (*DeleteSecurityContext)(void* context);
    long (*FreeCredentialsHandle)(void* credentials);
};

using QfInitSecurityInterface = const QfSecurityFunctionTable* (*)();

} // extern "C"
