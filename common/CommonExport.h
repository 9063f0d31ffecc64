// Export marker of libcommonkit.so.
//
// The library is built with hidden visibility; every class and function that
// other modules may use carries COMMONKIT_API.  Functions that are part of the
// library's C interface are additionally declared inside COMMONKIT_EXTERN_C.
#pragma once

#define COMMONKIT_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define COMMONKIT_EXTERN_C extern "C"
#else
#define COMMONKIT_EXTERN_C
#endif
