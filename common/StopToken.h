// StopToken: whether the calling thread has been asked to stop.
//
// A worker thread binds its stop flag when it starts; every blocking wait of
// the socket layer asks requested() between short slices, so a stopped thread
// leaves any wait within about kSliceMs.  Threads that bound no flag (the
// main thread, test threads) are never asked to stop.
#pragma once

#include "common/CommonExport.h"

#include <atomic>

class COMMONKIT_API StopToken
{
public:
    // Longest time a blocking wait goes without looking at the stop flag.
    static constexpr int kSliceMs = 100;

    static bool requested();
    // Binds flag to the calling thread (null unbinds); the flag must outlive
    // the binding.
    static void bind(const std::atomic<bool>* flag);
    // Sleeps ms milliseconds in slices; false when a stop cut it short.
    static bool sleepFor(int ms);
};
