// SPDX-License-Identifier: MIT
#include "service/callerlimits.h"

#include <algorithm>

bool CallerLimits::takeScan(uint uid, qint64 nowMs)
{
    constexpr qint64 kFull = kScanBurst * kScanRefillMs;
    const auto known = mScans.find(uid);
    Scans scans = known == mScans.end() ? Scans{kFull, nowMs} : known.value();
    scans.creditMs = std::min(kFull, scans.creditMs + std::max<qint64>(0, nowMs - scans.atMs));
    scans.atMs = nowMs;
    const bool allowed = scans.creditMs >= kScanRefillMs;
    if (allowed)
        scans.creditMs -= kScanRefillMs;
    // A full share is the same as none: only users who spent lately are kept.
    if (scans.creditMs >= kFull)
        mScans.remove(uid);
    else
        mScans.insert(uid, scans);
    return allowed;
}

bool CallerLimits::takeLine(uint uid, qint64 nowMs, int *untold)
{
    *untold = 0;
    Lines &lines = mLines[uid];
    if (lines.logged == 0 || nowMs - lines.windowStartMs >= kWindowMs) {
        *untold = lines.suppressed;
        lines = Lines{nowMs, 0, 0};
    }
    if (lines.logged < kLinesPerWindow) {
        ++lines.logged;
        return true;
    }
    ++lines.suppressed;
    return false;
}

QVector<QPair<uint, int>> CallerLimits::takeUntold()
{
    QVector<QPair<uint, int>> untold;
    for (auto it = mLines.begin(); it != mLines.end(); ++it) {
        if (it->suppressed > 0)
            untold.append({it.key(), it->suppressed});
    }
    mLines.clear();
    return untold;
}
