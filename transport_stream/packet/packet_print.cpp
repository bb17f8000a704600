// One-line text forms of a decoded packet header and the hex dump of a raw packet, and the
// header's JSON form.
#include "packet/print.h"
#include "text/text.h"

namespace {

// Prints the header fields after the bracketed tag; the PID is followed by its reserved-PID name.
void TS_Packet_PrintFields(TS_Sink *out, const char *tag, const TS_Packet *packet)
{
    TS_Text_Printf(out, "[%s] TEI:%d PUSI:%d TP:%d PID:0x%04X(%s) TSC:%d AFC:%d CN:%d\n", tag,
                   packet->transport_error_indicator, packet->payload_unit_start_indicator, packet->transport_priority,
                   packet->PID, TS_Name_PID(packet->PID), packet->transport_scrambling_control,
                   packet->adaptation_field_control, packet->continuity_counter);
}

}  // namespace

// The header line that heads a decoded table in the stream dump.
int TS_Packet_PrintHeader(TS_Sink *out, const TS_Packet *packet)
{
    if (packet == nullptr)
        return -1;
    TS_Packet_PrintFields(out, "TS Packet Header", packet);
    return 0;
}

// A packet reported for its own sake, with its adaptation field when it has one.
int TS_Packet_Print(TS_Sink *out, const TS_Packet *packet)
{
    if (packet == nullptr)
        return -1;
    TS_Packet_PrintFields(out, "TS Packet", packet);
    // adaptation_field_control 2 and 3 carry an adaptation field (ISO/IEC 13818-1 table 2-5).
    if (packet->adaptation_field_control & 0x02)
        TS_Packet_PrintAdaptationField(&packet->adaptation_field);
    return 0;
}

void TS_Packet_PrintJSON(TS_Json *json, const TS_Packet *packet)
{
    TS_Json_NumberField(json, "transport_error_indicator", packet->transport_error_indicator);
    TS_Json_NumberField(json, "payload_unit_start_indicator", packet->payload_unit_start_indicator);
    TS_Json_NumberField(json, "transport_priority", packet->transport_priority);
    TS_Json_NumberField(json, "pid", packet->PID);
    TS_Json_NumberField(json, "transport_scrambling_control", packet->transport_scrambling_control);
    TS_Json_NumberField(json, "adaptation_field_control", packet->adaptation_field_control);
    TS_Json_NumberField(json, "continuity_counter", packet->continuity_counter);
}

// The adaptation field has no text form yet; this is where it will be printed.
void TS_Packet_PrintAdaptationField(const TS_AdaptationField *field) { (void)field; }

// Dumps the 188 bytes of a packet: the four header bytes and the pointer_field on one line, then
// the rest with a line break after every byte whose index in the packet ends in 0xF.
int TS_Packet_Print_RAW(TS_Sink *out, const u8 *bytes)
{
    if (bytes == nullptr)
        return -1;
    TS_Text_Puts(out, "[TS Packet]");
    TS_Text_Printf(out, "  Header: ");
    for (u32 i = 0; i < 5; ++i)
        TS_Text_Printf(out, "0x%02X, ", bytes[i]);
    TS_Text_Printf(out, "\n  Section:\n  ");
    for (u32 i = 5; i < TS_PACKET_SIZE; ++i) {
        TS_Text_Printf(out, "0x%02X, ", bytes[i]);
        if ((i & 0x0F) == 0x0F)
            TS_Text_Printf(out, "\n  ");
    }
    TS_Text_Putchar(out, '\n');
    return 0;
}

int TS_Packet_PrintHeader(const TS_Packet *packet)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_Packet_PrintHeader(out, packet); });
}

int TS_Packet_Print(const TS_Packet *packet)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_Packet_Print(out, packet); });
}

int TS_Packet_Print_RAW(const u8 *bytes)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_Packet_Print_RAW(out, bytes); });
}
