// Service and network names in the drivers: the dump's SDT, NIT and program list, the check's
// services and network, on ISDB-like and DVB-like multiplexes; which text family a recording is
// read in; SDTs in several sections, across packets, and damaged.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <nlohmann/json.hpp>
#include <pidsift/check.h>

#include "capture.h"
#include "drivers/text_family.h"
#include "recording.h"

namespace {

using namespace testsupport;
using Json = nlohmann::json;

std::string UTF8(const u8 *bytes, u8 count, int family)
{
    char text[1024];
    EXPECT_GE(TS_Text_ToUTF8(text, sizeof text, bytes, count, family), 0);
    return text;
}

// The CRC_32 a section closes with, as the dump prints it: eight hexadecimal digits.
std::string SectionCRC(const Bytes &section)
{
    char crc[9];
    snprintf(crc, sizeof crc, "%08X", Crc32Mpeg2(section.data(), section.size() - 4));
    return crc;
}

std::string ServiceName(const TS_CheckReport &report, int i)
{
    const TS_SDTService &service = report.ltProgram[i].tService;
    return UTF8(service.lu8ServiceName, service.u8ServiceNameCount, report.s32TextFamily);
}

// A DVB terrestrial multiplex laid out as the sample: no ARIB descriptor in its PMTs, names in
// DVB's tables (the default one, an ISO 6937 accent, ISO 8859-9 behind the 0x05 selector).
BroadcastSpec DvbBroadcast(u64 packets)
{
    BroadcastSpec mux = SampleBroadcast(packets);
    mux.arib_descriptors = false;
    mux.guide = false;  // no EIT or TOT among the SI
    mux.transport_stream_id = 0x1004;
    mux.original_network_id = 0x233A;
    mux.services = {{0x0400, ServiceDescriptor(0x19, Text("BBC"), Text("BBC NEWS"))},
                    {0x0401, ServiceDescriptor(0x01,
                                               Text("France T\xC2"
                                                    "el\xC2"
                                                    "evisions"),
                                               Text("France 2"))},
                    {0x0408, ServiceDescriptor(0x01, Text("TRT"),
                                               Text("\x05"
                                                    "Ba\xFE"
                                                    "ka Kanal"))}};
    mux.network_descriptors = Descriptor(0x40, Text("Crystal Palace"));
    mux.network_stream_descriptors = Descriptor(0x41, {0x04, 0x00, 0x19});
    return mux;
}

// Three programs of a DVB-like multiplex (PAT with a network entry, PMTs with the PCR on the
// video PID), in cycles: PAT, PMTs, the SI packets the cycle is given, video, audio, null.
class Multiplex {
public:
    explicit Multiplex(u16 network_pid = 0x0010) : m_network_pid(network_pid) {}
    void Cycle(const std::vector<std::vector<Packet>> &si = {})
    {
        m_recording.Add(m_builder.Section(
            0x0000, PATSection(0x7FE0, 0, {{0, m_network_pid}, {0x0400, 0x01F0}, {0x0401, 0x01F1}, {0x0408, 0x01F8}})));
        for (u16 k = 0; k < 3; ++k) {
            const u16 program = kPrograms[k];
            const u16 video = u16(0x0111 + 0x10 * k);
            m_recording.Add(m_builder.Section(u16(0x01F0 + (k == 2 ? 8 : k)),
                                              PMTSection(program, 0, video, {},
                                                         {{0x02, video, Descriptor(0x52, {0x00})},
                                                          {0x0F, u16(video + 1), Descriptor(0x52, {0x10})}})),
                            program);
        }
        for (const std::vector<Packet> &packets : si)
            m_recording.Add(packets);
        for (u16 k = 0; k < 3; ++k) {
            m_recording.Add(m_builder.PCR(u16(0x0111 + 0x10 * k), 27000 * ++m_clock, 0, true, 0x10), kPrograms[k]);
            m_recording.Add(m_builder.Payload(u16(0x0112 + 0x10 * k), 0x20, true), kPrograms[k]);
        }
        m_recording.Add(PacketBuilder::Null());
    }
    std::vector<Packet> Section(u16 pid, const Bytes &section) { return m_builder.Section(pid, section); }
    PacketBuilder &Builder() { return m_builder; }
    const Recording &recording() const { return m_recording; }

    static constexpr u16 kPrograms[3] = {0x0400, 0x0401, 0x0408};

private:
    u16 m_network_pid;
    PacketBuilder m_builder;
    Recording m_recording;
    u64 m_clock = 0;
};

Bytes DvbServices(u8 version = 0, const std::string &first = "BBC NEWS")
{
    return SDTSection(0x42, 0x7FE0, 0x233A, version,
                      {{0x0400, ServiceDescriptor(0x19, Text("BBC"), Text(first))},
                       {0x0401, ServiceDescriptor(0x01, Text("FTV"), Text("France 2"))},
                       {0x0408, ServiceDescriptor(0x01, Text("TRT"),
                                                  Text("\x05"
                                                       "Ba\xFE"
                                                       "ka Kanal"))}});
}

// A copy of a section one of whose name bytes changed on the way: its CRC_32 fails.
Bytes Damaged(Bytes section, size_t at)
{
    section[at] ^= 0x20;
    return section;
}

class ServiceNames : public ::testing::Test {
protected:
    std::string Write(const Bytes &bytes)
    {
        const std::string path = dir.File("rec" + std::to_string(++m_files) + ".ts");
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }
    std::unique_ptr<TS_CheckReport> Check(const Bytes &bytes)
    {
        auto report = std::make_unique<TS_CheckReport>();
        EXPECT_EQ(TS_CheckFile(report.get(), Write(bytes).c_str()), 0);
        return report;
    }
    pidsift::CheckReport CheckInFamily(const Bytes &bytes, int family)
    {
        pidsift::RunSettings settings;
        settings.text_family = family;
        pidsift::CheckReport report;
        EXPECT_EQ(pidsift::Check(Write(bytes).c_str(), settings, &report), 0);
        return report;
    }
    std::string Dump(const Bytes &bytes, int mask)
    {
        const std::string path = Write(bytes);
        const TS_DumpOptions options = {mask};
        return CaptureStdout([&] { EXPECT_EQ(TS_Dump(path.c_str(), &options), 0); });
    }
    static std::vector<Json> JsonLines(const std::string &text)
    {
        std::vector<Json> lines;
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(Json::parse(text.substr(start, end - start)));
        return lines;
    }

    TempDir dir;

private:
    int m_files = 0;
};

constexpr char kProgramListHead[] = "========================================\nProgram List:\n";

// The program list's lines of programs and services, without the lines of their streams.
std::string ServiceLines(const std::string &list)
{
    std::string lines;
    for (size_t start = 0, end; (end = list.find('\n', start)) != std::string::npos; start = end + 1)
        if (list.compare(start, 14, "    StreamPID:") != 0)
            lines += list.substr(start, end + 1 - start);
    return lines;
}

TEST_F(ServiceNames, IsdbMultiplexIsReadAsArib)
{
    const Bytes bytes = Generate(SampleBroadcast(1200)).bytes();
    const auto report = Check(bytes);
    EXPECT_EQ(report->s32TextFamily, TS_TEXT_ARIB);
    EXPECT_EQ(report->u16TransportStreamID, 0x7FE0);
    ASSERT_EQ(report->u8HasSDT, 1);
    ASSERT_EQ(report->u16ProgramCount, 3);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(report->ltProgram[i].u8HasService, 1);
        EXPECT_EQ(ServiceName(*report, i), kSampleServiceNames[i]);
        EXPECT_EQ(report->ltProgram[i].tService.service_type, 0x01);
    }
    EXPECT_EQ(report->ltProgram[1].tService.free_CA_mode, 1);
    ASSERT_EQ(report->u8HasNetworkName, 1);
    EXPECT_EQ(report->u16NetworkID, 0x7FE0);
    EXPECT_EQ(UTF8(report->lu8NetworkName, report->u8NetworkNameCount, TS_TEXT_ARIB), kSampleNetworkName);

    // Each program with its streams: the captions by ISDB's data component descriptor.
    EXPECT_EQ(Dump(bytes, TS_PRINT_PROGRAMS),
              std::string(kProgramListHead) +
                  "  ProgramNumber:1024 PID:0x01F0 ServiceName:\"見本テレビ１\" PresentEvent:\"夜のニュース\"\n"
                  "    StreamPID:0x0111 StreamType:0x02 Codec:mpeg2video Kind:video Language:-\n"
                  "    StreamPID:0x0112 StreamType:0x0F Codec:aac Kind:audio Language:jpn\n"
                  "    StreamPID:0x0114 StreamType:0x06 Codec:arib_caption Kind:captions Language:-\n"
                  "  ProgramNumber:1025 PID:0x01F1 ServiceName:\"見本テレビ２\" PresentEvent:\"映画「見本」\"\n"
                  "    StreamPID:0x0121 StreamType:0x02 Codec:mpeg2video Kind:video Language:-\n"
                  "    StreamPID:0x0122 StreamType:0x0F Codec:aac Kind:audio Language:jpn\n"
                  "    StreamPID:0x0124 StreamType:0x06 Codec:arib_caption Kind:captions Language:-\n"
                  "  ProgramNumber:1032 PID:0x01F8 ServiceName:\"見本HD\" PresentEvent:\"アニメ映画\"\n"
                  "    StreamPID:0x0181 StreamType:0x02 Codec:mpeg2video Kind:video Language:-\n"
                  "    StreamPID:0x0182 StreamType:0x0F Codec:aac Kind:audio Language:jpn\n"
                  "    StreamPID:0x0184 StreamType:0x06 Codec:arib_caption Kind:captions Language:-\n");
    // The program list comes before the PID list.
    const std::string both = Dump(bytes, TS_PRINT_PROGRAMS | TS_PRINT_PIDS);
    EXPECT_EQ(both.rfind(kProgramListHead, 0), 0u);
    EXPECT_NE(both.find("PID List:"), std::string::npos);
}

TEST_F(ServiceNames, DvbMultiplexIsReadAsDvbUnlessAribIsChosen)
{
    const Bytes bytes = Generate(DvbBroadcast(1200)).bytes();
    const auto report = Check(bytes);
    EXPECT_EQ(report->s32TextFamily, TS_TEXT_DVB);
    ASSERT_EQ(report->u8HasSDT, 1);
    EXPECT_EQ(ServiceName(*report, 0), "BBC NEWS");
    EXPECT_EQ(ServiceName(*report, 1), "France 2");
    EXPECT_EQ(ServiceName(*report, 2), "Başka Kanal");
    const TS_SDTService &france = report->ltProgram[1].tService;
    EXPECT_EQ(UTF8(france.lu8ProviderName, france.u8ProviderNameCount, TS_TEXT_DVB), "France Télévisions");
    EXPECT_EQ(report->ltProgram[0].tService.service_type, 0x19);
    EXPECT_EQ(UTF8(report->lu8NetworkName, report->u8NetworkNameCount, TS_TEXT_DVB), "Crystal Palace");

    EXPECT_EQ(ServiceLines(Dump(bytes, TS_PRINT_PROGRAMS)),
              std::string(kProgramListHead) + "  ProgramNumber:1024 PID:0x01F0 ServiceName:\"BBC NEWS\" PresentEvent:-\n"
                                              "  ProgramNumber:1025 PID:0x01F1 ServiceName:\"France 2\" PresentEvent:-\n"
                                              "  ProgramNumber:1032 PID:0x01F8 ServiceName:\"Başka Kanal\" PresentEvent:-\n");

    // Chosen, ARIB reads the same bytes otherwise; DVB chosen for the ISDB sample, likewise.
    const pidsift::CheckReport arib = CheckInFamily(bytes, TS_TEXT_ARIB);
    EXPECT_EQ(arib.text_family, TS_TEXT_ARIB);
    ASSERT_FALSE(arib.services.empty());
    EXPECT_NE(arib.services[0].name, "BBC NEWS");
    const pidsift::CheckReport dvb = CheckInFamily(Generate(SampleBroadcast(1200)).bytes(), TS_TEXT_DVB);
    EXPECT_EQ(dvb.text_family, TS_TEXT_DVB);
    ASSERT_FALSE(dvb.services.empty());
    EXPECT_EQ(dvb.services[0].name, "8+K\\%F%l%S#1");  // the kanji pairs' bytes as ASCII
}

// What makes a recording ARIB's, one signal at a time, in a DVB-like multiplex whose names are
// kanji pairs without any control: alone, those read as DVB.
TEST_F(ServiceNames, WhatMakesARecordingArib)
{
    const Bytes kanji = Arib("総合");  // bytes of ASCII letters: no control among them
    auto sdt = [&](const Bytes &extra, const Bytes &name) {
        return SDTSection(0x42, 0x7FE0, 0x7FE0, 0, {{0x0400, Concat({ServiceDescriptor(0x01, {}, name), extra})}});
    };
    // A CDT (table_id 0xC8) on PID 0x0029, as ISDB broadcasters send their logos.
    const Bytes cdt = LongSection(0xC8, 0x0001, 0, Bytes(30, 0x00));
    const Bytes utf16 = {0x11, 0x0E, 0x01, 0x0E, 0x02};  // two Thai letters in UTF-16: no ARIB control
    const struct {
        const char *what;
        Bytes sdt;
        u16 extra_pid;
        Bytes extra;
        int family;
    } cases[] = {
        {"kanji bytes alone", sdt({}, kanji), 0, {}, TS_TEXT_DVB},
        {"a CDT on 0x0029", sdt({}, kanji), 0x0029, cdt, TS_TEXT_ARIB},
        {"a BIT on 0x0024", sdt({}, kanji), 0x0024, LongSection(0xC4, 0x0001, 0, {}), TS_TEXT_ARIB},
        {"an EIT on 0x0029 is no sign", sdt({}, kanji), 0x0029, LongSection(0x4E, 0x0001, 0, {}), TS_TEXT_DVB},
        {"logo transmission in the SDT", sdt(Descriptor(0xCF, {0x01}), kanji), 0, {}, TS_TEXT_ARIB},
        {"an ESC in a name", sdt({}, Concat({{0x1B, 0x7C}, kanji})), 0, {}, TS_TEXT_ARIB},
        {"LS1 in a name", sdt({}, Concat({kanji, {0x0E, 'A'}})), 0, {}, TS_TEXT_ARIB},
        {"0x0E inside UTF-16", sdt({}, utf16), 0, {}, TS_TEXT_DVB},
        {"0x0F as a table number", sdt({}, {0x10, 0x00, 0x0F, 'A'}), 0, {}, TS_TEXT_DVB},
        {"system management in the NIT", sdt({}, kanji), 0x0010,
         NITSection(0x40, 0x7FE0, 0, Descriptor(0xFE, {0x03, 0x01}), {}), TS_TEXT_ARIB},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.what);
        Multiplex mux;
        for (int cycle = 0; cycle < 3; ++cycle) {
            std::vector<std::vector<Packet>> si = {mux.Section(0x0011, each.sdt)};
            if (each.extra_pid != 0)
                si.push_back(mux.Section(each.extra_pid, each.extra));
            mux.Cycle(si);
        }
        const Bytes bytes = mux.recording().bytes();
        EXPECT_EQ(Check(bytes)->s32TextFamily, each.family);
        // The dump decides with what it has seen when it prints: the same here, where the sign
        // comes before the end.
        const std::string programs = Dump(bytes, TS_PRINT_PROGRAMS | TS_PRINT_JSON);
        EXPECT_EQ(Json::parse(programs)["charset"], each.family == TS_TEXT_ARIB ? "arib" : "dvb");
    }
}

TEST_F(ServiceNames, SdtInTwoSectionsIsGathered)
{
    const Bytes first = SDTSection(0x42, 0x7FE0, 0x233A, 0, {{0x0400, ServiceDescriptor(0x01, {}, Text("One"))}}, 0, 1);
    const Bytes second = SDTSection(0x42, 0x7FE0, 0x233A, 0,
                                    {{0x0401, ServiceDescriptor(0x01, {}, Text("Two"))},
                                     {0x0408, ServiceDescriptor(0x02, {}, Text("Radio Three"))}},
                                    1, 1);
    Multiplex mux;
    for (int cycle = 0; cycle < 6; ++cycle)
        mux.Cycle({mux.Section(0x0011, cycle % 2 == 0 ? first : second)});
    const Bytes bytes = mux.recording().bytes();

    const auto report = Check(bytes);
    ASSERT_EQ(report->u8HasSDT, 1);
    EXPECT_EQ(ServiceName(*report, 0), "One");
    EXPECT_EQ(ServiceName(*report, 1), "Two");
    EXPECT_EQ(ServiceName(*report, 2), "Radio Three");
    EXPECT_EQ(report->ltProgram[2].tService.service_type, 0x02);

    EXPECT_EQ(ServiceLines(Dump(bytes, TS_PRINT_PROGRAMS)),
              std::string(kProgramListHead) + "  ProgramNumber:1024 PID:0x01F0 ServiceName:\"One\" PresentEvent:-\n"
                                              "  ProgramNumber:1025 PID:0x01F1 ServiceName:\"Two\" PresentEvent:-\n"
                                              "  ProgramNumber:1032 PID:0x01F8 ServiceName:\"Radio Three\" PresentEvent:-\n");
    // With --changes each section is printed once, though they take turns on their PID.
    const std::string changes = Dump(bytes, TS_PRINT_SDT | TS_PRINT_CHANGES);
    EXPECT_EQ(changes.find("[SDT] TI:0x42(SDT Self) SSI:1 R1:3 SL:25 TSI:32736 R2:3 VN:0 CNI:1 SN:0 LSN:1\n"
                           "  ONID:9018 RFU:255 Services:1\n"),
              changes.find("[SDT]"));
    size_t blocks = 0;
    for (size_t at = changes.find("[SDT]"); at != std::string::npos; at = changes.find("[SDT]", at + 1))
        ++blocks;
    EXPECT_EQ(blocks, 2u);
    EXPECT_NE(changes.find("SN:1 LSN:1\n"), std::string::npos);
    EXPECT_NE(changes.find("Repeated tables left out: 4\n"), std::string::npos);
}

// An SDT of eight services with long names takes two packets, and an EIT and a null packet come
// between them.
TEST_F(ServiceNames, SdtSpanningTwoPackets)
{
    std::vector<ServiceSpec> services;
    for (u16 i = 0; i < 8; ++i)
        services.push_back(
            {u16(i < 3 ? Multiplex::kPrograms[i] : 0x0410 + i),
             ServiceDescriptor(0x01, Text("Provider of long names"), Text("Service " + std::to_string(i)))});
    const Bytes sdt = SDTSection(0x42, 0x7FE0, 0x233A, 0, services);
    Multiplex mux;
    for (int cycle = 0; cycle < 2; ++cycle) {
        const std::vector<Packet> halves = mux.Section(0x0011, sdt);
        ASSERT_EQ(halves.size(), 2u);
        mux.Cycle({{halves[0]},
                   mux.Section(0x0012, LongSection(0x4E, 0x0400, 0, Bytes(20, 0x3C))),
                   {PacketBuilder::Null()},
                   {halves[1]}});
    }
    const Bytes bytes = mux.recording().bytes();
    const auto report = Check(bytes);
    EXPECT_EQ(ServiceName(*report, 0), "Service 0");
    EXPECT_EQ(ServiceName(*report, 1), "Service 1");
    EXPECT_EQ(ServiceName(*report, 2), "Service 2");
    EXPECT_EQ(report->ltPID[0x0011].u64CRCErrors, 0u);

    const std::vector<Json> lines = JsonLines(Dump(bytes, TS_PRINT_SDT | TS_PRINT_JSON));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["continuity_counter"], 1);  // printed at the packet that completed it
    EXPECT_EQ(lines[0]["crc_ok"], true);
    ASSERT_EQ(lines[0]["services"].size(), 8u);
    EXPECT_EQ(lines[0]["services"][7]["service_name"], "Service 7");
}

// A damaged SDT among good ones is printed as it came but not trusted for the names; a damaged
// one that came first is replaced by the good one that follows.
TEST_F(ServiceNames, DamagedSdtIsNotTrusted)
{
    const Bytes good = DvbServices();
    const size_t in_name = good.size() - 4 - 5;  // the K of "Başka Kanal"
    Multiplex mux;
    mux.Cycle({mux.Section(0x0011, good)});
    mux.Cycle({mux.Section(0x0011, good)});
    mux.Cycle({mux.Section(0x0011, Damaged(good, in_name))});
    const Bytes bytes = mux.recording().bytes();

    const auto report = Check(bytes);
    EXPECT_EQ(report->ltPID[0x0011].u64CRCErrors, 1u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_CRC].u64Count, 1u);
    EXPECT_EQ(ServiceName(*report, 2), "Başka Kanal");
    EXPECT_EQ(ServiceLines(Dump(bytes, TS_PRINT_PROGRAMS)).substr(std::string(kProgramListHead).size()),
              "  ProgramNumber:1024 PID:0x01F0 ServiceName:\"BBC NEWS\" PresentEvent:-\n"
              "  ProgramNumber:1025 PID:0x01F1 ServiceName:\"France 2\" PresentEvent:-\n"
              "  ProgramNumber:1032 PID:0x01F8 ServiceName:\"Başka Kanal\" PresentEvent:-\n");
    const std::vector<Json> lines = JsonLines(Dump(bytes, TS_PRINT_SDT | TS_PRINT_JSON));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1]["crc_ok"], true);
    EXPECT_EQ(lines[2]["crc_ok"], false);
    EXPECT_EQ(lines[2]["services"][2]["service_name"], "Başka kanal");

    Multiplex late;
    late.Cycle({late.Section(0x0011, Damaged(DvbServices(0, "BBC NEWX"), in_name))});
    late.Cycle({late.Section(0x0011, DvbServices(0, "BBC NEWX"))});
    const auto replaced = Check(late.recording().bytes());
    EXPECT_EQ(ServiceName(*replaced, 2), "Başka Kanal");
    EXPECT_EQ(ServiceName(*replaced, 0), "BBC NEWX");
}

// Programs are named by the actual SDT of the PAT's transport stream only: not by an SDT of
// another stream, nor by an actual SDT that bears another transport_stream_id.
TEST_F(ServiceNames, OnlyTheActualSdtOfThisTransportStream)
{
    const Bytes other = SDTSection(0x46, 0x7FE1, 0x233A, 0,
                                   {{0x0400, ServiceDescriptor(0x01, {}, Text("Elsewhere"))},
                                    {0x0401, ServiceDescriptor(0x01, {}, Text("Elsewhere too"))}});
    const Bytes actual = SDTSection(0x42, 0x7FE0, 0x233A, 0, {{0x0400, ServiceDescriptor(0x01, {}, Text("Here"))}});
    Multiplex mux;
    mux.Cycle({mux.Section(0x0011, actual), mux.Section(0x0011, other)});
    mux.Cycle({mux.Section(0x0011, other)});
    const Bytes bytes = mux.recording().bytes();
    const auto report = Check(bytes);
    ASSERT_EQ(report->u8HasSDT, 1);
    EXPECT_EQ(ServiceName(*report, 0), "Here");
    EXPECT_EQ(report->ltProgram[1].u8HasService, 0);
    EXPECT_EQ(report->ltProgram[2].u8HasService, 0);
    const std::vector<Json> programs = JsonLines(Dump(bytes, TS_PRINT_PROGRAMS | TS_PRINT_JSON));
    ASSERT_EQ(programs.size(), 1u);
    Json services = programs[0];
    for (Json &program : services["programs"])
        program.erase("streams");
    EXPECT_EQ(services, Json::parse(R"({"type":"programs","charset":"dvb","programs":[)"
                                    R"({"program_number":1024,"pmt_pid":496,"service_name":"Here","present_event":null},)"
                                    R"({"program_number":1025,"pmt_pid":497,"service_name":null,"present_event":null},)"
                                    R"({"program_number":1032,"pmt_pid":504,"service_name":null,"present_event":null}]})"));

    Multiplex foreign;
    foreign.Cycle({foreign.Section(0x0011, SDTSection(0x42, 0x7FE1, 0x233A, 0, {{0x0400, {}}}))});
    const auto unnamed = Check(foreign.recording().bytes());
    EXPECT_EQ(unnamed->u8HasSDT, 0);
    EXPECT_EQ(unnamed->ltProgram[0].u8HasService, 0);
    EXPECT_EQ(ServiceLines(Dump(foreign.recording().bytes(), TS_PRINT_PROGRAMS)),
              std::string(kProgramListHead) + "  ProgramNumber:1024 PID:0x01F0 ServiceName:- PresentEvent:-\n"
                                              "  ProgramNumber:1025 PID:0x01F1 ServiceName:- PresentEvent:-\n"
                                              "  ProgramNumber:1032 PID:0x01F8 ServiceName:- PresentEvent:-\n");
}

// The check takes the network name from the PAT's network PID as well; the NIT of another
// network (0x41) does not name this one. The dump prints NITs of PID 0x0010.
TEST_F(ServiceNames, NetworkNameOfTheActualNit)
{
    const Bytes ours = NITSection(0x40, 0x3001, 0, Descriptor(0x40, Text("Ours")), {{0x7FE0, 0x233A, {}}});
    const Bytes theirs = NITSection(0x41, 0x3002, 0, Descriptor(0x40, Text("Theirs")), {});
    Multiplex mux(0x0020);
    mux.Cycle({mux.Section(0x0020, ours), mux.Section(0x0020, theirs)});
    const auto report = Check(mux.recording().bytes());
    ASSERT_EQ(report->u8HasNetworkName, 1);
    EXPECT_EQ(report->u16NetworkID, 0x3001);
    EXPECT_EQ(UTF8(report->lu8NetworkName, report->u8NetworkNameCount, TS_TEXT_DVB), "Ours");

    Multiplex usual;
    usual.Cycle({usual.Section(0x0010, theirs), usual.Section(0x0010, ours)});
    EXPECT_EQ(Dump(usual.recording().bytes(), TS_PRINT_NIT),
              "========================================\n"
              "[TS Packet Header] TEI:0 PUSI:1 TP:0 PID:0x0010(<assigned>) TSC:0 AFC:1 CN:0\n"
              "[NIT] TI:0x41(NIT Other) SSI:1 R1:3 SL:21 NID:12290 R2:3 VN:0 CNI:1 SN:0 LSN:0\n"
              "  RFU:15 NDL:8 DSC:1 TAGS:0x40 NetworkName:\"Theirs\"\n"
              "  RFU:15 TSLL:0 TransportStreams:0\n"
              "  CRC32:0x" +
                  SectionCRC(theirs) +
                  "\n"
                  "========================================\n"
                  "[TS Packet Header] TEI:0 PUSI:1 TP:0 PID:0x0010(<assigned>) TSC:0 AFC:1 CN:1\n"
                  "[NIT] TI:0x40(NIT Self) SSI:1 R1:3 SL:25 NID:12289 R2:3 VN:0 CNI:1 SN:0 LSN:0\n"
                  "  RFU:15 NDL:6 DSC:1 TAGS:0x40 NetworkName:\"Ours\"\n"
                  "  RFU:15 TSLL:6 TransportStreams:1\n"
                  "  TSI:32736 ONID:9018 RFU:15 TDL:0 DSC:0\n"
                  "  CRC32:0x" +
                  SectionCRC(ours) + "\n");
}

// The dump's family counts the SDT of another transport stream and the NIT of another network:
// their ARIB descriptors make the recording ARIB from them on.
TEST_F(ServiceNames, TheDumpCountsTheTablesOfOtherStreams)
{
    const Bytes other_sdt =
        SDTSection(0x46, 0x7FE1, 0x7FE0, 0,
                   {{0x0408, Concat({ServiceDescriptor(0x01, {}, Arib("教育")), Descriptor(0xCF, {0x01})})}});
    const Bytes other_nit = NITSection(0x41, 0x7FE1, 0, Descriptor(0xFE, {0x03, 0x01}), {});
    for (const auto &[pid, other] : {std::pair{u16(0x0011), other_sdt}, std::pair{u16(0x0010), other_nit}}) {
        SCOPED_TRACE(pid);
        Multiplex mux;
        mux.Cycle({mux.Section(pid, other)});
        const std::vector<Json> lines =
            JsonLines(Dump(mux.recording().bytes(), TS_PRINT_SDT | TS_PRINT_PROGRAMS | TS_PRINT_JSON));
        ASSERT_EQ(lines.size(), pid == 0x0011 ? 2u : 1u);
        if (pid == 0x0011) {
            EXPECT_EQ(lines[0]["services"][0]["service_name"], "教育");
        }
        EXPECT_EQ(lines.back()["charset"], "arib");
    }
}

TEST(TextFamily, AribNamesAndTags)
{
    const struct {
        Bytes name;
        bool arib;
    } names[] = {
        {{}, false},
        {Text("BBC NEWS"), false},
        {{0x1B, 0x24, 0x3B, 0x7A, 0x56}, true},   // ESC designating a set
        {{0x0E, 'N', 'H', 'K'}, true},            // LS1 first
        {{0x3F, 0x4D, 0x19, 0x21}, true},         // SS2 inside
        {{0x05, 'A', 0x1D, 'B'}, true},           // SS3 behind a DVB selector
        {{0x10, 0x00, 0x0E, 'A'}, false},         // ISO 8859-14 selected
        {{0x10, 0x00, 0x0F, 0x0E}, true},         // and then an LS1
        {{0x1F, 0x0F, 'A'}, false},               // an encoding_type_id of 0x0F
        {{0x11, 0x00, 0x1B, 0x0E, 0x0F}, false},  // UTF-16
    };
    for (const auto &each : names)
        EXPECT_EQ(TS_FamilyVote_IsAribName(each.name.data(), u32(each.name.size())), each.arib)
            << ::testing::PrintToString(each.name);
    for (u32 tag = 0; tag < 256; ++tag) {
        const bool arib = tag == 0xC1 || tag == 0xC8 || tag == 0xCD || tag == 0xCF || tag == 0xFD || tag == 0xFE;
        EXPECT_EQ(TS_FamilyVote_IsAribTag(u8(tag)), arib) << tag;
    }
}

}  // namespace
