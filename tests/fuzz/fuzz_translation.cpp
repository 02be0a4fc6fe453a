// SPDX-License-Identifier: MIT
// Any bytes given as a translation file: loaded under the language it names
// (a file naming none gives its entries to the code ""), or refused with no
// language left over from before.

#include "tests/fuzz/fuzzsupport.h"
#include "i18n/trans.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Trans trans;
    QString lang = QStringLiteral("stale");
    const bool loaded = trans.loadData(lang, fuzzInput(data, size));
    REQUIRE(loaded || lang.isEmpty());
    if (loaded) {
        // Looking a text up in the new table must not trip over anything it holds.
        trans.setCurrentLang(lang);
        (void)trans.trans(QStringLiteral("Matched failed"));
    }
    return 0;
}
