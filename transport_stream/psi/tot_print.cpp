// Text and JSON forms of a decoded TDT and TOT.
#include <pidsift/si_tables.h>

#include "psi/print.h"
#include "psi/si.h"

namespace pidsift {

namespace {

// The short header and the time, which both tables start with: "[tag] TI:... Time:...".
template <class Table> void PrintClockLine(TS_Sink *out, const char *tag, const Table &table, int family)
{
    TS_Text_Printf(out, "[%s] TI:0x%02X(%s) SSI:%d R1:%d SL:%d Time:%s\n", tag, table.table_id,
                   TS_Name_TableId(table.table_id), table.section_syntax_indicator, table.reserved1,
                   table.section_length, TimeText(table.UTC_time, family).c_str());
}

template <class Table> void ClockJSON(TS_Json *json, const Table &table, int family)
{
    TS_Json_NumberField(json, "table_id", table.table_id);
    TS_Json_NumberField(json, "section_syntax_indicator", table.section_syntax_indicator);
    TS_Json_NumberField(json, "section_length", table.section_length);
    PrintTimeJSON(json, "utc_time", table.UTC_time, family);
}

}  // namespace

void PrintTdt(TS_Sink *out, const Tdt &tdt, int family) { PrintClockLine(out, "TDT", tdt, family); }

void PrintTot(TS_Sink *out, const Tot &tot, int family)
{
    PrintClockLine(out, "TOT", tot, family);
    TS_Text_Printf(out, "  R:%d DLL:%d", tot.reserved2, tot.descriptors_loop_length);
    PrintSiDescriptorTags(out, tot.descriptors);
    TS_Text_Putchar(out, '\n');
    for (const SiDescriptor &descriptor : tot.descriptors)
        PrintSiDescriptor(out, descriptor, family);
    TS_Section_PrintCRC(out, tot.CRC_32);
}

void PrintTdt(const Tdt &tdt, int family, const TextSink &sink)
{
    TS_Sink out(sink);
    PrintTdt(&out, tdt, family);
}

void PrintTot(const Tot &tot, int family, const TextSink &sink)
{
    TS_Sink out(sink);
    PrintTot(&out, tot, family);
}

void PrintTdtJSON(TS_Json *json, const Tdt &tdt, int family)
{
    ClockJSON(json, tdt, family);
    TS_Json_Key(json, "crc_ok");
    TS_Json_Null(json);
}

void PrintTotJSON(TS_Json *json, const Tot &tot, bool crc_ok, int family)
{
    ClockJSON(json, tot, family);
    TS_Json_NumberField(json, "descriptors_loop_length", tot.descriptors_loop_length);
    PrintSiDescriptorsJSON(json, tot.descriptors, family);
    TS_Section_PrintCRCJSON(json, tot.CRC_32, crc_ok);
}

}  // namespace pidsift
