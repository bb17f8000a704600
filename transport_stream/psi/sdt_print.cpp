// Text and JSON forms of a decoded SDT, and the names of the service types.
#include <cstring>
#include <initializer_list>

#include "psi/print.h"
#include "psi/si.h"

namespace {

struct TS_ServiceTypeName {
    u8 u8Type;
    const char *strName;
};

// The service types of EN 300 468 (0x01 to 0x1F); the gaps are reserved.
constexpr TS_ServiceTypeName kServiceTypes[] = {
    {0x01, "digital television"},
    {0x02, "digital radio"},
    {0x03, "teletext"},
    {0x04, "NVOD reference"},
    {0x05, "NVOD time-shifted"},
    {0x06, "mosaic"},
    {0x07, "FM radio"},
    {0x08, "DVB SRM"},
    {0x0A, "advanced codec digital radio"},
    {0x0B, "H.264/AVC mosaic"},
    {0x0C, "data broadcast"},
    {0x0D, "common interface"},
    {0x0E, "RCS map"},
    {0x0F, "RCS FLS"},
    {0x10, "DVB MHP"},
    {0x11, "MPEG-2 HD digital television"},
    {0x16, "H.264/AVC SD digital television"},
    {0x17, "H.264/AVC SD NVOD time-shifted"},
    {0x18, "H.264/AVC SD NVOD reference"},
    {0x19, "H.264/AVC HD digital television"},
    {0x1A, "H.264/AVC HD NVOD time-shifted"},
    {0x1B, "H.264/AVC HD NVOD reference"},
    {0x1C, "H.264/AVC frame compatible 3D HD digital television"},
    {0x1D, "H.264/AVC frame compatible 3D HD NVOD time-shifted"},
    {0x1E, "H.264/AVC frame compatible 3D HD NVOD reference"},
    {0x1F, "HEVC digital television"},
};

// What ARIB STD-B10 gives the values that DVB leaves to the broadcasters.
constexpr TS_ServiceTypeName kAribServiceTypes[] = {
    {0xA1, "special video"},
    {0xA2, "special audio"},
    {0xA3, "special data"},
    {0xA4, "engineering"},
    {0xA5, "promotion video"},
    {0xA6, "promotion audio"},
    {0xA7, "promotion data"},
    {0xA8, "data for accumulation in advance"},
    {0xA9, "data for accumulation only"},
    {0xAA, "bookmark list data"},
    {0xAD, "ultra high definition television"},
    {0xC0, "data"},
};

const char *TS_Name_ServiceType(u8 service_type, int family)
{
    for (const TS_ServiceTypeName &entry : kServiceTypes)
        if (entry.u8Type == service_type)
            return entry.strName;
    if (family == TS_TEXT_ARIB)
        for (const TS_ServiceTypeName &entry : kAribServiceTypes)
            if (entry.u8Type == service_type)
                return entry.strName;
    return "?";
}

}  // namespace

int TS_ServiceTypeToString(char *name, u8 service_type, int family)
{
    if (name == nullptr)
        return -1;
    const char *text = TS_Name_ServiceType(service_type, family);
    std::memcpy(name, text, std::strlen(text) + 1);
    return 0;
}

// The header line, original_network_id and the service count, a line per service and one for its
// service descriptor, and the CRC_32.
int TS_SDT_Print(TS_Sink *out, const TS_SDT *sdt, int family)
{
    if (sdt == nullptr)
        return -1;
    TS_Section_PrintHeaderLine(out, "SDT", *sdt);
    TS_Text_Printf(out, "  ONID:%d RFU:%d Services:%d\n", sdt->original_network_id, sdt->reserved_future_use,
                   sdt->u16ServiceCount);
    const u16 count = sdt->u16ServiceCount < TS_MAX_SERVICES ? sdt->u16ServiceCount : TS_MAX_SERVICES;
    for (u16 i = 0; i < count; ++i) {
        const TS_SDTService &service = sdt->ltService[i];
        TS_Text_Printf(out, "  SID:%d RFU:%d EITS:%d EITPF:%d RS:%d FCA:%d DLL:%d DSC:%d", service.service_id,
                       service.reserved_future_use, service.EIT_schedule_flag, service.EIT_present_following_flag,
                       service.running_status, service.free_CA_mode, service.descriptors_loop_length,
                       service.u16DescriptorCount);
        TS_SI_PrintTags(out, service.lu8DescriptorTag, service.u16DescriptorCount);
        TS_Text_Putchar(out, '\n');
        if (!service.u8HasServiceDescriptor)
            continue;
        TS_Text_Printf(out, "    ST:0x%02X(%s) SPNL:%d SNL:%d", service.service_type,
                       TS_Name_ServiceType(service.service_type, family), service.service_provider_name_length,
                       service.service_name_length);
        TS_SI_PrintName(out, "Provider", service.lu8ProviderName, service.u8ProviderNameCount, family);
        TS_SI_PrintName(out, "Name", service.lu8ServiceName, service.u8ServiceNameCount, family);
        TS_Text_Putchar(out, '\n');
    }
    TS_Section_PrintCRC(out, sdt->CRC_32);
    return 0;
}

void TS_SDT_PrintJSON(TS_Json *json, const TS_SDT *sdt, bool crc_ok, int family)
{
    TS_Section_PrintTableJSON(json, *sdt, "transport_stream_id", sdt->transport_stream_id, crc_ok, [=] {
        TS_Json_NumberField(json, "original_network_id", sdt->original_network_id);
        TS_Json_StringField(json, "charset", TS_SI_FamilyName(family));
        const u16 count = sdt->u16ServiceCount < TS_MAX_SERVICES ? sdt->u16ServiceCount : TS_MAX_SERVICES;
        TS_Json_ObjectArrayField(json, "services", count, [=](u32 i) {
            const TS_SDTService &service = sdt->ltService[i];
            TS_Json_NumberField(json, "service_id", service.service_id);
            TS_Json_NumberField(json, "eit_schedule_flag", service.EIT_schedule_flag);
            TS_Json_NumberField(json, "eit_present_following_flag", service.EIT_present_following_flag);
            TS_Json_NumberField(json, "running_status", service.running_status);
            TS_Json_NumberField(json, "free_ca_mode", service.free_CA_mode);
            TS_Json_NumberField(json, "descriptors_loop_length", service.descriptors_loop_length);
            TS_SI_PrintTagsJSON(json, service.lu8DescriptorTag, service.u16DescriptorCount);
            if (!service.u8HasServiceDescriptor) {
                for (const char *key :
                     {"service_type", "service_provider_name_length", "provider_name", "provider_name_bytes",
                      "service_name_length", "service_name", "service_name_bytes"}) {
                    TS_Json_Key(json, key);
                    TS_Json_Null(json);
                }
                return;
            }
            TS_Json_NumberField(json, "service_type", service.service_type);
            TS_Json_NumberField(json, "service_provider_name_length", service.service_provider_name_length);
            TS_SI_PrintNameJSON(json, "provider_name", service.lu8ProviderName, service.u8ProviderNameCount, family);
            TS_Json_NumberField(json, "service_name_length", service.service_name_length);
            TS_SI_PrintNameJSON(json, "service_name", service.lu8ServiceName, service.u8ServiceNameCount, family);
        });
    });
}

int TS_SDT_Print(const TS_SDT *sdt, int family)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_SDT_Print(out, sdt, family); });
}
