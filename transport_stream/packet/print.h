// The JSON forms of the packet layer's records, written beside their text printers. Each
// writes its record's members into the object the caller has opened, under the syntax element
// names in lower case.
#ifndef PIDSIFT_TRANSPORT_STREAM_PACKET_PRINT_H
#define PIDSIFT_TRANSPORT_STREAM_PACKET_PRINT_H

#include <pidsift/ts.h>

#include "text/json.h"
#include "text/text.h"

// The printers of ts.h writing to a sink.
int TS_Packet_PrintHeader(TS_Sink *out, const TS_Packet *packet);
int TS_Packet_Print(TS_Sink *out, const TS_Packet *packet);
int TS_Packet_Print_RAW(TS_Sink *out, const u8 *bytes);
int TS_PCR_Print(TS_Sink *out, const TS_PCR *pcr);

// The header fields: transport_error_indicator to continuity_counter, the PID as "pid".
void TS_Packet_PrintJSON(TS_Json *json, const TS_Packet *packet);
// program_clock_reference_base (90 kHz) and program_clock_reference_extension (27 MHz).
void TS_PCR_PrintJSON(TS_Json *json, const TS_PCR *pcr);

#endif  // PIDSIFT_TRANSPORT_STREAM_PACKET_PRINT_H
