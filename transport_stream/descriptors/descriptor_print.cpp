// Printer dispatch by descriptor tag, and the raw and conditional-access printers.
#include <cstdio>

#include "descriptors/descriptors.h"
#include "common/bytes.h"
#include "text/text.h"

namespace {

using TS_DescriptorPrinter = int (*)(const TS_Descriptor *);

// The printer of each tag with a kind of its own; every other tag is printed raw. Mirrors the
// decoder choice of TS_GetDescriptor, so a record is always printed as what it was decoded as.
TS_DescriptorPrinter TS_Descriptor_PrinterFor(u8 tag)
{
    switch (tag) {
    case 0x02: return TS_Descriptor_PrintVideoStream;
    case 0x03: return TS_Descriptor_PrintAudioStream;
    case 0x04: return TS_Descriptor_PrintHierarchy;
    case 0x05: return TS_Descriptor_PrintRegistration;
    case 0x06: return TS_Descriptor_PrintDataStreamAlignment;
    case 0x07: return TS_Descriptor_PrintTargetBackgroundGrid;
    case 0x08: return TS_Descriptor_PrintVideoWindow;
    case 0x09: return TS_Descriptor_PrintConditionalAccess;
    case 0x0A: return TS_Descriptor_PrintISO639Language;
    case 0x0B: return TS_Descriptor_PrintSystemClock;
    case 0x0C: return TS_Descriptor_PrintMultiplexBufferUtilization;
    case 0x0D: return TS_Descriptor_PrintCopyright;
    case 0x0E: return TS_Descriptor_PrintMaximumBitrate;
    case 0x0F: return TS_Descriptor_PrintPrivateDataIndicator;
    case 0x10: return TS_Descriptor_PrintSmoothingBuffer;
    case 0x11: return TS_Descriptor_PrintSTD;
    case 0x12: return TS_Descriptor_PrintIBP;
    default: return TS_Descriptor_PrintRAW;
    }
}

}  // namespace

// Prints a decoded descriptor with the printer its tag selects.
int TS_Descriptor_Print(const TS_Descriptor *descriptor)
{
    if (descriptor == nullptr)
        return -1;
    TS_Descriptor_PrinterFor(descriptor->descriptor_tag)(descriptor);
    return 0;
}

// Prints any descriptor as its name, tag and length, then a dump of its body bytes.
int TS_Descriptor_PrintRAW(const TS_Descriptor *descriptor)
{
    if (descriptor == nullptr)
        return -1;
    char name[256];
    TS_DescriptorTagToString(name, descriptor->descriptor_tag);
    TS_Text_Printf("[D %s] T:0x%02X L:%d\n  ", name, descriptor->descriptor_tag,
           descriptor->descriptor_length);
    TS_Text_PrintBytes(descriptor->lu8Raw, descriptor->descriptor_length);
    return 0;
}

// Prints a CA_descriptor (ISO/IEC 13818-1 2.6.16): CA system, ECM or EMM PID, private bytes.
int TS_Descriptor_PrintConditionalAccess(const TS_Descriptor *descriptor)
{
    if (descriptor == nullptr)
        return -1;
    if (descriptor->descriptor_tag != 0x09)
        return -2;
    const TS_ConditionalAccessDescriptor *ca = &descriptor->tConditionalAccess;
    TS_Text_Printf("[D Conditional access] L:%d CASID:%X R:%d CAPID:0x%04X\n  ",
           descriptor->descriptor_length, ca->CA_system_ID, ca->reserved, ca->CA_PID);
    // A descriptor too short for its four fixed bytes has no private data.
    const int count = descriptor->descriptor_length > 4 ? descriptor->descriptor_length - 4 : 0;
    TS_Text_PrintBytes(ca->private_data_byte, count);
    return 0;
}
