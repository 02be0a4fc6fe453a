// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QPair>
#include <QVector>

// What one user may cost the root service, counted by uid (a new bus name
// costs nothing): the scans its requests cause, and the lines its refusals
// write to the journal. Times are milliseconds on any monotonic clock.
class CallerLimits
{
public:
    // Scans: a burst of this many, then one more for every kScanRefillMs.
    static constexpr int kScanBurst = 10;
    static constexpr qint64 kScanRefillMs = 500;
    // Refusal lines: this many in each window, the rest counted.
    static constexpr int kLinesPerWindow = 5;
    static constexpr qint64 kWindowMs = 60 * 1000;

    // Whether a request of this uid may cause a scan now.
    bool takeScan(uint uid, qint64 nowMs);
    // Whether a refusal of this uid may be logged now; false counts it as
    // suppressed. `untold` receives what the window before this one held back,
    // once, to be logged first.
    bool takeLine(uint uid, qint64 nowMs, int *untold);
    // What is held back and not yet told, per uid; cleared.
    QVector<QPair<uint, int>> takeUntold();

private:
    // The share left, in milliseconds of refill: kScanRefillMs buys one scan.
    struct Scans {
        qint64 creditMs = kScanBurst * kScanRefillMs;
        qint64 atMs = 0;
    };
    struct Lines {
        qint64 windowStartMs = 0;
        int logged = 0;
        int suppressed = 0;
    };
    QHash<uint, Scans> mScans;
    QHash<uint, Lines> mLines;
};
