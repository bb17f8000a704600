// Service description section decoding (the SDT of EN 300 468 and ARIB STD-B10, PID 0x0011), and
// the services of an SDT gathered over its sections.
#include <cstring>

#include "descriptors/descriptors.h"
#include "psi/si.h"
#include "psi/walk.h"

namespace {

constexpr u8 kServiceDescriptor = 0x48;

// service_type, the provider's name and the service's name, each name as long as its length
// says and the descriptor holds.
void TS_SDTService_ReadServiceDescriptor(TS_SDTService *service, const TS_Descriptor &descriptor)
{
    const TS_ServiceDescriptorBody body =
        TS_ServiceDescriptor_Read(TS_ByteReader(descriptor.lu8Raw, descriptor.descriptor_length));
    service->u8HasServiceDescriptor = 1;
    service->service_type = body.service_type;
    service->service_provider_name_length = body.service_provider_name_length;
    service->u8ProviderNameCount = TS_SI_CopyName(service->lu8ProviderName, body.tProviderName);
    service->service_name_length = body.service_name_length;
    service->u8ServiceNameCount = TS_SI_CopyName(service->lu8ServiceName, body.tServiceName);
}

// One entry of the service loop into the record, its descriptors decoded up to the record's
// capacity.
void TS_SDTService_Fill(TS_SDTService *service, const TS_SDTServiceEntry &entry, TS_Descriptor *scratch,
                        u8 section_number)
{
    std::memset(service, 0, sizeof *service);
    service->u8SectionNumber = section_number;
    service->service_id = entry.service_id;
    service->reserved_future_use = u8(entry.u8Flags >> 2);
    service->EIT_schedule_flag = u8((entry.u8Flags >> 1) & 0x01);
    service->EIT_present_following_flag = u8(entry.u8Flags & 0x01);
    service->running_status = u8(entry.u16State >> 13);
    service->free_CA_mode = u8((entry.u16State >> 12) & 0x01);
    service->descriptors_loop_length = u16(entry.u16State & 0x0FFF);
    service->u16DescriptorCount = TS_Descriptor_DecodeLoop(scratch, TS_MAX_DESCRIPTORS, entry.tLoop.Begin(),
                                                           entry.tLoop.End(), entry.pu8SectionEnd);
    for (u16 i = 0; i < service->u16DescriptorCount; ++i)
        service->lu8DescriptorTag[i] = scratch[i].descriptor_tag;
    for (u16 i = 0; i < service->u16DescriptorCount; ++i) {
        if (scratch[i].descriptor_tag == kServiceDescriptor) {
            TS_SDTService_ReadServiceDescriptor(service, scratch[i]);
            break;
        }
    }
}

bool TS_SDTServices_Has(const TS_SDTServices *services, u8 section_number)
{
    return (services->lu8Taken[section_number >> 3] >> (section_number & 7)) & 0x01;
}

}  // namespace

int TS_SDT_FromPreSection(TS_SDT *sdt, const TS_PreSection *section)
{
    return TS_Section_DecodeTable(sdt, section, [sdt](const TS_SectionHeader &header, TS_ByteReader &reader) {
        sdt->transport_stream_id = header.table_id_extension;
        sdt->original_network_id = reader.Read16();
        sdt->reserved_future_use = reader.Read8();
        TS_Descriptor scratch[TS_MAX_DESCRIPTORS];
        u16 count = 0;
        TS_SDT_WalkServices(header, reader, [&](const TS_SDTServiceEntry &entry) {
            TS_SDTService_Fill(&sdt->ltService[count++], entry, scratch, sdt->section_number);
            return count < TS_MAX_SERVICES;
        });
        sdt->u16ServiceCount = count;
    });
}

int TS_SDTServices_Initialise(TS_SDTServices *services)
{
    if (services == nullptr)
        return -1;
    std::memset(services, 0, sizeof *services);
    return 0;
}

int TS_SDTServices_Add(TS_SDTServices *services, const TS_SDT *sdt)
{
    if (services == nullptr || sdt == nullptr)
        return -1;
    if (!sdt->u8Valid || (sdt->table_id != 0x42 && sdt->table_id != 0x46) || !sdt->current_next_indicator)
        return -2;
    const bool same = services->u8Valid && services->table_id == sdt->table_id &&
                      services->transport_stream_id == sdt->transport_stream_id &&
                      services->original_network_id == sdt->original_network_id &&
                      services->version_number == sdt->version_number &&
                      services->last_section_number == sdt->last_section_number;
    if (!same) {
        TS_SDTServices_Initialise(services);
        services->u8Valid = 1;
        services->table_id = sdt->table_id;
        services->transport_stream_id = sdt->transport_stream_id;
        services->original_network_id = sdt->original_network_id;
        services->version_number = sdt->version_number;
        services->last_section_number = sdt->last_section_number;
    }
    const u8 number = sdt->section_number;
    const u16 incoming = sdt->u16ServiceCount < TS_MAX_SERVICES ? sdt->u16ServiceCount : TS_MAX_SERVICES;
    if (TS_SDTServices_Has(services, number)) {
        // The section's services stand together: a repeat brings the same ones. (Its CRC_32
        // field cannot tell: a copy damaged on the way keeps the field of the good one.)
        u16 first = 0;
        while (first < services->u16ServiceCount && services->ltService[first].u8SectionNumber != number)
            ++first;
        u16 held = 0;
        while (first + held < services->u16ServiceCount && services->ltService[first + held].u8SectionNumber == number)
            ++held;
        if (held == incoming &&
            std::memcmp(&services->ltService[first], sdt->ltService, held * sizeof services->ltService[0]) == 0)
            return 0;
        // Another section of the same number and version: it replaces what the first brought.
        std::memmove(&services->ltService[first], &services->ltService[first + held],
                     (services->u16ServiceCount - first - held) * sizeof services->ltService[0]);
        services->u16ServiceCount = u16(services->u16ServiceCount - held);
    }
    services->lu8Taken[number >> 3] = u8(services->lu8Taken[number >> 3] | (1u << (number & 7)));

    // The section's services go behind those of the sections numbered up to it; when the record
    // is full, the services of the highest numbers are the ones dropped.
    u16 at = 0;
    while (at < services->u16ServiceCount && services->ltService[at].u8SectionNumber <= number)
        ++at;
    const u16 room = u16(TS_MAX_SERVICES - at);
    const u16 taken = incoming < room ? incoming : room;
    const u16 behind = services->u16ServiceCount - at;
    const u16 moved = behind < room - taken ? behind : u16(room - taken);
    std::memmove(&services->ltService[at + taken], &services->ltService[at], moved * sizeof services->ltService[0]);
    std::memcpy(&services->ltService[at], sdt->ltService, taken * sizeof services->ltService[0]);
    services->u16ServiceCount = u16(at + taken + moved);
    return 1;
}

int TS_SDTServices_Complete(const TS_SDTServices *services)
{
    if (services == nullptr || !services->u8Valid)
        return 0;
    for (u32 n = 0; n <= services->last_section_number; ++n)
        if (!TS_SDTServices_Has(services, u8(n)))
            return 0;
    return 1;
}

const TS_SDTService *TS_SDTServices_Find(const TS_SDTServices *services, u16 service_id)
{
    if (services == nullptr || !services->u8Valid)
        return nullptr;
    const u16 count = services->u16ServiceCount < TS_MAX_SERVICES ? services->u16ServiceCount : TS_MAX_SERVICES;
    for (u16 i = 0; i < count; ++i)
        if (services->ltService[i].service_id == service_id)
            return &services->ltService[i];
    return nullptr;
}
