// TS_SetTextFamily: the text family chosen for the whole process, which the check's runs still
// start from. The other drivers take the family from their run's settings.
#include "drivers/text_family.h"

namespace {

int g_s32TextFamily = TS_TEXT_AUTO;

}  // namespace

int TS_SetTextFamily(int family)
{
    if (family != TS_TEXT_AUTO && family != TS_TEXT_DVB && family != TS_TEXT_ARIB)
        return -2;
    g_s32TextFamily = family;
    return 0;
}

void TS_FamilyVote_Start(TS_FamilyVote *vote) { TS_FamilyVote_Start(vote, g_s32TextFamily); }
