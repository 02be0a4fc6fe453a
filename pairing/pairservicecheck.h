// SPDX-License-Identifier: MIT
#pragma once

#include "config/diagnosis.h"
#include "pairing/pairservice.h"

// What doctor tells of the pairing service, from whether it can be reached
// and what polkit answers for this user; the reasons are the ones those give.
ServiceFacts serviceFacts(PairService::Reach reach, const QString &unreached,
                          PairService::Authorisation answer, const QString &unanswered);
// Asks the system bus, then polkit without any prompt.
ServiceFacts examineService();
