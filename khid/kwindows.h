// SPDX-License-Identifier: MIT
#pragma once

// The Windows headers the backend needs, included one way everywhere.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <dbt.h>
#include <setupapi.h>
// Older SDKs and mingw-w64 declare the HID services without C linkage guards.
extern "C" {
#include <hidsdi.h>
}
