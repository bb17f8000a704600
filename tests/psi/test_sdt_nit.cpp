// The SDT and the NIT: decoding from reassembled sections, their text and JSON forms in both text
// families, the services of an SDT gathered over its sections, and their importers.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "capture.h"
#include "psi/si.h"
#include "stream_builder.h"

namespace {

using namespace testsupport;
using Json = nlohmann::json;

std::unique_ptr<TS_SDT> DecodeSDT(const Bytes &section)
{
    auto sdt = std::make_unique<TS_SDT>();
    EXPECT_EQ(TS_SDT_FromPreSection(sdt.get(), MakePreSection(section).get()), 0);
    return sdt;
}

std::unique_ptr<TS_NIT> DecodeNIT(const Bytes &section)
{
    auto nit = std::make_unique<TS_NIT>();
    EXPECT_EQ(TS_NIT_FromPreSection(nit.get(), MakePreSection(section).get()), 0);
    return nit;
}

template <class Table, class Print> Json AsJson(const Table &table, Print print, bool crc_ok, int family)
{
    const std::string text = testsupport::Printed([&](TS_Sink *out) {
        TS_Json json;
        TS_Json_Start(&json, out);
        TS_Json_ObjectBegin(&json);
        print(&json, &table, crc_ok, family);
        TS_Json_ObjectEnd(&json);
        TS_Json_EndLine(&json);
    });
    return Json::parse(text);
}

Bytes Name(const TS_SDTService &service)
{
    return Bytes(service.lu8ServiceName, service.lu8ServiceName + service.u8ServiceNameCount);
}
Bytes Provider(const TS_SDTService &service)
{
    return Bytes(service.lu8ProviderName, service.lu8ProviderName + service.u8ProviderNameCount);
}

// An ISDB terrestrial SDT: a television service with ARIB descriptors, a one-segment service
// whose name mixes half-width letters and katakana, and a service without descriptors.
Bytes IsdbSDT()
{
    ServiceSpec oneseg = {0x0598, ServiceDescriptor(0xC0, Arib("ＮＨＫ"), Arib("NHK ワンセグ"))};
    oneseg.eit_schedule = true;
    ServiceSpec data = {0x0599, {}};
    data.running_status = 0;
    data.free_ca = true;
    return SDTSection(0x42, 0x7FE0, 0x7FE0, 2,
                      {{0x0400, Concat({ServiceDescriptor(0x01, Arib("ＮＨＫ"), Arib("ＮＨＫ総合")),
                                        Descriptor(0xC1, {0x84, 0xFF}), Descriptor(0xCF, {0x01, 0x02})})},
                       oneseg,
                       data});
}

// A DVB SDT: names in the default table, one with an accent of ISO 6937, one behind the 0x05
// selector (ISO 8859-9).
Bytes DvbSDT()
{
    return SDTSection(0x42, 0x1004, 0x233A, 7,
                      {{0x1044, ServiceDescriptor(0x19, Text("BBC"), Text("BBC NEWS"))},
                       {0x1045, ServiceDescriptor(0x01,
                                                  Text("France T\xC2"
                                                       "el\xC2"
                                                       "evisions"),
                                                  Text("France 2"))},
                       {0x1046, ServiceDescriptor(0x01, Text("TRT"),
                                                  Text("\x05"
                                                       "Ba\xFE"
                                                       "ka Kanal"))}},
                      1, 3);
}

TEST(SDT, DecodesAnIsdbSection)
{
    const auto sdt = DecodeSDT(IsdbSDT());
    EXPECT_EQ(sdt->u8Valid, 1);
    EXPECT_EQ(sdt->table_id, 0x42);
    EXPECT_EQ(sdt->transport_stream_id, 0x7FE0);
    EXPECT_EQ(sdt->original_network_id, 0x7FE0);
    EXPECT_EQ(sdt->version_number, 2);
    ASSERT_EQ(sdt->u16ServiceCount, 3);

    const TS_SDTService &tv = sdt->ltService[0];
    EXPECT_EQ(tv.service_id, 0x0400);
    EXPECT_EQ(tv.running_status, 4);
    EXPECT_EQ(tv.EIT_present_following_flag, 1);
    EXPECT_EQ(tv.EIT_schedule_flag, 0);
    ASSERT_EQ(tv.u16DescriptorCount, 3);
    EXPECT_EQ(tv.lu8DescriptorTag[0], 0x48);
    EXPECT_EQ(tv.lu8DescriptorTag[1], 0xC1);
    EXPECT_EQ(tv.lu8DescriptorTag[2], 0xCF);
    EXPECT_EQ(tv.u8HasServiceDescriptor, 1);
    EXPECT_EQ(tv.service_type, 0x01);
    EXPECT_EQ(Provider(tv), Arib("ＮＨＫ"));
    EXPECT_EQ(Name(tv), Arib("ＮＨＫ総合"));
    EXPECT_EQ(tv.service_name_length, 10);

    EXPECT_EQ(sdt->ltService[1].EIT_schedule_flag, 1);
    EXPECT_EQ(Name(sdt->ltService[1]), Arib("NHK ワンセグ"));
    const TS_SDTService &bare = sdt->ltService[2];
    EXPECT_EQ(bare.free_CA_mode, 1);
    EXPECT_EQ(bare.running_status, 0);
    EXPECT_EQ(bare.u16DescriptorCount, 0);
    EXPECT_EQ(bare.u8HasServiceDescriptor, 0);

    const std::string text = CaptureStdout([&] { TS_SDT_Print(sdt.get(), TS_TEXT_ARIB); });
    EXPECT_EQ(CompareWithGolden("sdt_isdb", text), "");
}

TEST(SDT, DvbNamesDependOnTheFamily)
{
    const auto sdt = DecodeSDT(DvbSDT());
    EXPECT_EQ(sdt->section_number, 1);
    EXPECT_EQ(sdt->last_section_number, 3);
    ASSERT_EQ(sdt->u16ServiceCount, 3);
    EXPECT_EQ(sdt->ltService[0].u8SectionNumber, 1);
    const std::string text = CaptureStdout([&] { TS_SDT_Print(sdt.get(), TS_TEXT_DVB); });
    EXPECT_EQ(CompareWithGolden("sdt_dvb", text), "");
    // Read as ARIB, the same bytes are no longer "BBC NEWS".
    const std::string arib = CaptureStdout([&] { TS_SDT_Print(sdt.get(), TS_TEXT_ARIB); });
    EXPECT_EQ(arib.find("Name:\"BBC NEWS\""), std::string::npos);
    EXPECT_NE(arib.find("ST:0x19(H.264/AVC HD digital television)"), std::string::npos);
}

TEST(SDT, JsonNamesBesideTheirBytes)
{
    const auto isdb = DecodeSDT(IsdbSDT());
    const Json json = AsJson(*isdb, TS_SDT_PrintJSON, true, TS_TEXT_ARIB);
    EXPECT_EQ(json["table_id"], 0x42);
    EXPECT_EQ(json["transport_stream_id"], 0x7FE0);
    EXPECT_EQ(json["original_network_id"], 0x7FE0);
    EXPECT_EQ(json["charset"], "arib");
    EXPECT_EQ(json["crc_ok"], true);
    ASSERT_EQ(json["services"].size(), 3u);
    const Json &tv = json["services"][0];
    EXPECT_EQ(tv["service_id"], 0x0400);
    EXPECT_EQ(tv["descriptor_tags"], Json::array({0x48, 0xC1, 0xCF}));
    EXPECT_EQ(tv["service_type"], 1);
    EXPECT_EQ(tv["service_name"], "ＮＨＫ総合");
    EXPECT_EQ(tv["service_name_bytes"], "234e2348234b416d3967");
    EXPECT_EQ(tv["provider_name"], "ＮＨＫ");
    EXPECT_EQ(json["services"][1]["service_name"], "NHK ワンセグ");
    EXPECT_EQ(json["services"][1]["eit_schedule_flag"], 1);
    const Json &bare = json["services"][2];
    for (const char *key : {"service_type", "service_provider_name_length", "provider_name", "provider_name_bytes",
                            "service_name_length", "service_name", "service_name_bytes"})
        EXPECT_TRUE(bare[key].is_null()) << key;
    EXPECT_EQ(bare["free_ca_mode"], 1);

    const auto dvb = DecodeSDT(DvbSDT());
    const Json names = AsJson(*dvb, TS_SDT_PrintJSON, false, TS_TEXT_DVB);
    EXPECT_EQ(names["charset"], "dvb");
    EXPECT_EQ(names["crc_ok"], false);
    EXPECT_EQ(names["services"][1]["provider_name"], "France Télévisions");
    EXPECT_EQ(names["services"][2]["service_name"], "Başka Kanal");
    EXPECT_EQ(names["services"][2]["service_name_bytes"], "054261fe6b61204b616e616c");
}

// Lengths inside the service descriptor that reach past it: the names are cut where the
// descriptor ends, the declared lengths kept, and the loop goes on behind the descriptor.
TEST(SDT, NameLengthsPastTheirDescriptor)
{
    const Bytes name_past = Descriptor(0x48, {0x01, 3, 'B', 'B', 'C', 20, 'N', 'E', 'W', 'S'});
    const Bytes provider_past = Descriptor(0x48, {0x02, 9, 'R', 'a'});
    const auto sdt = DecodeSDT(SDTSection(
        0x42, 1, 2, 0, {{0x0010, Concat({name_past, Descriptor(0xC1, {0x84, 0xFF})})}, {0x0011, provider_past}}));
    ASSERT_EQ(sdt->u16ServiceCount, 2);
    const TS_SDTService &first = sdt->ltService[0];
    EXPECT_EQ(first.service_name_length, 20);
    EXPECT_EQ(Name(first), Text("NEWS"));
    EXPECT_EQ(first.u16DescriptorCount, 2);
    const TS_SDTService &second = sdt->ltService[1];
    EXPECT_EQ(second.service_provider_name_length, 9);
    EXPECT_EQ(Provider(second), Text("Ra"));
    EXPECT_EQ(second.service_name_length, 0);
    EXPECT_EQ(second.u8ServiceNameCount, 0);

    const std::string text = CaptureStdout([&] { TS_SDT_Print(sdt.get(), TS_TEXT_DVB); });
    EXPECT_EQ(
        text, "[SDT] TI:0x42(SDT Self) SSI:1 R1:3 SL:44 TSI:1 R2:3 VN:0 CNI:1 SN:0 LSN:0\n"
              "  ONID:2 RFU:255 Services:2\n"
              "  SID:16 RFU:63 EITS:0 EITPF:1 RS:4 FCA:0 DLL:16 DSC:2 TAGS:0x48,0xC1\n"
              "    ST:0x01(digital television) SPNL:3 SNL:20 Provider:\"BBC\" Name:\"NEWS\"\n"
              "  SID:17 RFU:63 EITS:0 EITPF:1 RS:4 FCA:0 DLL:6 DSC:1 TAGS:0x48\n"
              "    ST:0x02(digital radio) SPNL:9 SNL:0 Provider:\"Ra\" Name:\"\"\n"
              "  CRC32:0x" +
                  [&] {
                      char crc[9];
                      snprintf(crc, sizeof crc, "%08X", sdt->CRC_32);
                      return std::string(crc);
                  }() +
                  "\n");
}

// A service descriptor that reaches past the end of the section is not decoded; a quote, a
// backslash and a line break in a name are escaped in the text.
TEST(SDT, DescriptorPastTheSectionAndEscapedNames)
{
    Bytes section = SDTSection(0x42, 1, 2, 0, {{0x0020, Descriptor(0x48, {0x01, 0, 5, 'A', 'B', 'C', 'D', 'E'})}});
    // descriptor_length 40 in a section that ends 12 bytes later: past the CRC_32.
    section[11 + 5 + 1] = 40;
    section.resize(section.size() - 4);
    const auto cut = DecodeSDT(Sealed(section));
    ASSERT_EQ(cut->u16ServiceCount, 1);
    EXPECT_EQ(cut->ltService[0].u8HasServiceDescriptor, 0);
    EXPECT_EQ(cut->ltService[0].u16DescriptorCount, 0);

    const auto quoted = DecodeSDT(SDTSection(0x42, 1, 2, 0,
                                             {{0x0021, ServiceDescriptor(0x01, {},
                                                                         Text("A\"B\\C\x8A"
                                                                              "D"))}}));
    const std::string text = CaptureStdout([&] { TS_SDT_Print(quoted.get(), TS_TEXT_DVB); });
    EXPECT_NE(text.find("    ST:0x01(digital television) SPNL:0 SNL:7 Provider:\"\" Name:\"A\\\"B\\\\C\\x0AD\"\n"),
              std::string::npos)
        << text;
}

TEST(SDT, ServicesBeyondTheCapacityAreDropped)
{
    std::vector<ServiceSpec> services;
    for (u16 id = 0; id < TS_MAX_SERVICES + 2; ++id)
        services.push_back({id, {}});
    const auto sdt = DecodeSDT(SDTSection(0x42, 1, 2, 0, services));
    ASSERT_EQ(sdt->u16ServiceCount, TS_MAX_SERVICES);
    EXPECT_EQ(sdt->ltService[TS_MAX_SERVICES - 1].service_id, TS_MAX_SERVICES - 1);
}

TEST(ServiceTypes, NamesOfBothFamilies)
{
    const struct {
        u8 type;
        int family;
        const char *name;
    } cases[] = {
        {0x01, TS_TEXT_DVB, "digital television"},
        {0x19, TS_TEXT_ARIB, "H.264/AVC HD digital television"},
        {0x09, TS_TEXT_DVB, "?"},
        {0xA1, TS_TEXT_DVB, "?"},
        {0xA1, TS_TEXT_ARIB, "special video"},
        {0xC0, TS_TEXT_ARIB, "data"},
        {0xAD, TS_TEXT_ARIB, "ultra high definition television"},
        {0xFF, TS_TEXT_ARIB, "?"},
    };
    for (const auto &each : cases) {
        char name[256];
        ASSERT_EQ(TS_ServiceTypeToString(name, each.type, each.family), 0);
        EXPECT_STREQ(name, each.name) << int(each.type);
    }
    EXPECT_EQ(TS_ServiceTypeToString(nullptr, 1, TS_TEXT_DVB), -1);
}

// ---- The services of an SDT over its sections ------------------------------------------------

class Gathering : public ::testing::Test {
protected:
    int Add(const Bytes &section)
    {
        const auto sdt = DecodeSDT(section);
        return TS_SDTServices_Add(services.get(), sdt.get());
    }
    std::vector<u16> Ids() const
    {
        std::vector<u16> ids;
        for (u16 i = 0; i < services->u16ServiceCount; ++i)
            ids.push_back(services->ltService[i].service_id);
        return ids;
    }
    static Bytes Section(u8 number, std::vector<u16> ids, u8 version = 0, const std::string &name = "x")
    {
        std::vector<ServiceSpec> specs;
        for (u16 id : ids)
            specs.push_back({id, ServiceDescriptor(0x01, {}, Text(name))});
        return SDTSection(0x42, 0x1004, 0x233A, version, specs, number, 1);
    }

    std::unique_ptr<TS_SDTServices> services = [] {
        auto fresh = std::make_unique<TS_SDTServices>();
        TS_SDTServices_Initialise(fresh.get());
        return fresh;
    }();
};

TEST_F(Gathering, SectionsInAnyOrderRepeatsAndReplacements)
{
    EXPECT_EQ(TS_SDTServices_Complete(services.get()), 0);
    EXPECT_EQ(Add(Section(1, {30, 31})), 1);
    EXPECT_EQ(TS_SDTServices_Complete(services.get()), 0);
    EXPECT_EQ(Add(Section(0, {10, 11, 12})), 1);
    EXPECT_EQ(TS_SDTServices_Complete(services.get()), 1);
    EXPECT_EQ(Ids(), (std::vector<u16>{10, 11, 12, 30, 31}));  // by section_number
    EXPECT_EQ(Add(Section(0, {10, 11, 12})), 0);               // a repeat

    // Section 0 again with other bytes (a damaged copy came first): it replaces its services.
    EXPECT_EQ(Add(Section(0, {10, 12}, 0, "y")), 1);
    EXPECT_EQ(Ids(), (std::vector<u16>{10, 12, 30, 31}));
    const TS_SDTService *found = TS_SDTServices_Find(services.get(), 12);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(Name(*found), Text("y"));
    EXPECT_EQ(TS_SDTServices_Find(services.get(), 11), nullptr);

    // A new version starts afresh.
    EXPECT_EQ(Add(Section(1, {40}, 1)), 1);
    EXPECT_EQ(Ids(), (std::vector<u16>{40}));
    EXPECT_EQ(services->version_number, 1);
    EXPECT_EQ(TS_SDTServices_Complete(services.get()), 0);
}

TEST_F(Gathering, OnlyCurrentSDTSectionsAreTaken)
{
    EXPECT_EQ(Add(Section(0, {10})), 1);
    // A BAT on the same PID, and the next version announced ahead.
    EXPECT_EQ(Add(LongSection(0x4A, 0x1004, 0, Bytes(10, 0xF0))), -2);
    Bytes next = Section(0, {99}, 5);
    next[5] &= 0xFE;  // current_next_indicator 0
    next.resize(next.size() - 4);
    EXPECT_EQ(Add(Sealed(next)), -2);
    EXPECT_EQ(Ids(), (std::vector<u16>{10}));
    // Another transport stream's SDT (0x46) is another table.
    EXPECT_EQ(Add(SDTSection(0x46, 0x1005, 0x233A, 0, {{50, {}}})), 1);
    EXPECT_EQ(Ids(), (std::vector<u16>{50}));
    EXPECT_EQ(services->table_id, 0x46);
    EXPECT_EQ(TS_SDTServices_Add(nullptr, nullptr), -1);
}

TEST_F(Gathering, CapacityDropsTheHighestSections)
{
    std::vector<u16> low, high;
    for (u16 i = 0; i < 100; ++i) {
        low.push_back(u16(1000 + i));
        high.push_back(u16(2000 + i));
    }
    EXPECT_EQ(Add(Section(1, high)), 1);
    EXPECT_EQ(Add(Section(0, low)), 1);
    const std::vector<u16> ids = Ids();
    ASSERT_EQ(ids.size(), TS_MAX_SERVICES);
    EXPECT_EQ(ids[99], 1099);
    EXPECT_EQ(ids[100], 2000);
    EXPECT_EQ(ids.back(), 2000 + TS_MAX_SERVICES - 101);
}

// ---- NIT ------------------------------------------------------------------------------------

TEST(NIT, NetworkNameAndTransportStreams)
{
    const Bytes section = NITSection(
        0x40, 0x7FE0, 4, Concat({Descriptor(0x40, Arib("見本ネットワーク")), Descriptor(0xFE, {0x03, 0x01})}),
        {{0x7FE0, 0x7FE0, Concat({Descriptor(0xCD, {0x01, 0x00}), Descriptor(0x41, {0x04, 0x00, 0x01})})},
         {0x7FE1, 0x7FE0, {}}});
    const auto nit = DecodeNIT(section);
    EXPECT_EQ(nit->network_id, 0x7FE0);
    EXPECT_EQ(nit->version_number, 4);
    EXPECT_EQ(nit->u16DescriptorCount, 2);
    ASSERT_EQ(nit->u8HasNetworkName, 1);
    EXPECT_EQ(Bytes(nit->lu8NetworkName, nit->lu8NetworkName + nit->u8NetworkNameCount), Arib("見本ネットワーク"));
    ASSERT_EQ(nit->u16TransportStreamCount, 2);
    EXPECT_EQ(nit->ltTransportStream[0].u16DescriptorCount, 2);
    EXPECT_EQ(nit->ltTransportStream[1].transport_stream_id, 0x7FE1);
    const std::string text = CaptureStdout([&] { TS_NIT_Print(nit.get(), TS_TEXT_ARIB); });
    EXPECT_EQ(CompareWithGolden("nit_isdb", text), "");

    const Json json = AsJson(*nit, TS_NIT_PrintJSON, true, TS_TEXT_ARIB);
    EXPECT_EQ(json["network_id"], 0x7FE0);
    EXPECT_EQ(json["network_name"], "見本ネットワーク");
    EXPECT_EQ(json["transport_streams"][0]["descriptor_tags"], Json::array({0xCD, 0x41}));
    EXPECT_EQ(json["transport_streams"][1]["original_network_id"], 0x7FE0);
}

// The transport stream loop ends where its length says, even before the CRC_32; a NIT without a
// network name descriptor has none.
TEST(NIT, LoopLengthsAsDeclared)
{
    Bytes section = NITSection(0x41, 0x3001, 0, {}, {{1, 2, {}}, {3, 4, {}}, {5, 6, {}}});
    section[10 + 0 + 1] = 12;  // transport_stream_loop_length: two entries of the three
    section.resize(section.size() - 4);
    const auto nit = DecodeNIT(Sealed(section));
    EXPECT_EQ(nit->u8HasNetworkName, 0);
    EXPECT_EQ(nit->transport_stream_loop_length, 12);
    ASSERT_EQ(nit->u16TransportStreamCount, 2);
    EXPECT_EQ(nit->ltTransportStream[1].transport_stream_id, 3);
    const std::string text = CaptureStdout([&] { TS_NIT_Print(nit.get(), TS_TEXT_DVB); });
    EXPECT_EQ(text.substr(0, text.find("  CRC32")),
              "[NIT] TI:0x41(NIT Other) SSI:1 R1:3 SL:31 NID:12289 R2:3 VN:0 CNI:1 SN:0 LSN:0\n"
              "  RFU:15 NDL:0 DSC:0\n"
              "  RFU:15 TSLL:12 TransportStreams:2\n"
              "  TSI:1 ONID:2 RFU:15 TDL:0 DSC:0\n"
              "  TSI:3 ONID:4 RFU:15 TDL:0 DSC:0\n");
    const Json json = AsJson(*nit, TS_NIT_PrintJSON, true, TS_TEXT_DVB);
    EXPECT_TRUE(json["network_name"].is_null() && json["network_name_bytes"].is_null());
}

// ---- Importers ------------------------------------------------------------------------------

TEST(SIImport, SectionsSpanningPacketsAndTheirShortestLengths)
{
    // Eight services with long names: the section takes two packets.
    std::vector<ServiceSpec> services;
    for (u16 i = 0; i < 8; ++i)
        services.push_back(
            {u16(0x0400 + i), ServiceDescriptor(0x01, Arib("見本放送"), Arib("見本テレビジョン放送局"))});
    const Bytes sdt = SDTSection(0x42, 0x7FE0, 0x7FE0, 0, services);
    PacketBuilder builder;
    const std::vector<Packet> packets = builder.Section(0x0011, sdt);
    ASSERT_EQ(packets.size(), 2u);
    TS_PreSection section;
    TS_PreSection_Initialise(&section);
    EXPECT_EQ(TS_SDT_ImportPreSection(&section, packets[0].data()), 0);
    EXPECT_EQ(section.u8Complete, 0);
    EXPECT_EQ(TS_SDT_ImportPreSection(&section, packets[1].data()), 0);
    ASSERT_EQ(section.u8Complete, 1);
    auto decoded = std::make_unique<TS_SDT>();
    TS_SDT_FromPreSection(decoded.get(), &section);
    ASSERT_EQ(decoded->u16ServiceCount, 8);
    EXPECT_EQ(Name(decoded->ltService[7]), Arib("見本テレビジョン放送局"));

    // section_length 11 is one short of an SDT's fixed part; 12 of a NIT's.
    Bytes short_sdt = {0x42, 0xF0, 11};
    short_sdt.resize(14, 0xFF);
    const Packet too_short = builder.Section(0x0011, short_sdt)[0];
    EXPECT_EQ(TS_SDT_ImportPreSection(&section, too_short.data()), -4);
    Bytes short_nit = {0x40, 0xF0, 12};
    short_nit.resize(15, 0xFF);
    EXPECT_EQ(TS_NIT_ImportPreSection(&section, builder.Section(0x0010, short_nit)[0].data()), -4);
    short_nit[2] = 13;
    EXPECT_EQ(TS_NIT_ImportPreSection(&section, builder.Section(0x0010, short_nit)[0].data()), 0);
}

}  // namespace
