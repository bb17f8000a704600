// The characters ARIB adds to the Kanji set past JIS X 0208: the additional kanji of rows 85
// and 86 and the additional symbols of rows 90 to 94 (traffic and weather signs, boxed and
// circled letters and numbers, Roman numerals, fractions, the era names). Both are reachable
// in the Kanji set and in the additional-symbols set. Most of the symbols entered Unicode for
// these broadcasts (the enclosed alphanumeric and ideographic supplements, the Miscellaneous
// Symbols additions); the cells that did not (the lower-case parenthesised abbreviations of row
// 92, a few blank-looking cells) are 0 here and decode to U+FFFD.
#include <iterator>

#include "text/si_text.h"

namespace {

#include "text/arib_symbols.inc"

// The rows by number from 85; rows 87 to 89 hold nothing.
constexpr const u32 *kRows[] = {kRow85, kRow86, nullptr, nullptr, nullptr, kRow90, kRow91, kRow92, kRow93, kRow94};

}  // namespace

u32 TS_ARIB_AdditionalCharacter(int row, int cell)
{
    const int index = row - 85;
    if (cell < 1 || cell > 94 || index < 0 || index >= int(std::size(kRows)) || kRows[index] == nullptr)
        return 0;
    return kRows[index][cell - 1];
}
