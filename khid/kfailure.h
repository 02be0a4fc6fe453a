// SPDX-License-Identifier: MIT
#pragma once

// How the backends tell of a failure. Plain C++, as the backends are.

#include <string>
#include <utility>

namespace KHID {

// A read or write that failed: the system's words, and whether they say the device is gone.
struct KIoFailure {
    std::string words;
    bool gone = false;
};

// The calling thread's last one, kept per thread as the system keeps errno: the
// worker's failure must not take the words of another thread's.
inline KIoFailure &lastIoFailure()
{
    thread_local KIoFailure failure;
    return failure;
}

// Keeps the failure for lastIoError and gives false, the failed call's answer.
inline bool ioFailed(std::string words, bool gone = false)
{
    KIoFailure &failure = lastIoFailure();
    failure.words = std::move(words);
    failure.gone = gone;
    return false;
}

// Where the caller asked for the reason of a refusal.
inline void setReason(std::string *reason, std::string text)
{
    if (reason)
        *reason = std::move(text);
}

} // namespace KHID
