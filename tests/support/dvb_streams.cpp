#include "dvb_streams.h"

namespace testsupport {

namespace {

Bytes Language(const char *code, u8 audio_type) { return {u8(code[0]), u8(code[1]), u8(code[2]), audio_type}; }

Bytes Subtitling(const char *code, u8 type, u16 composition_page)
{
    return {u8(code[0]), u8(code[1]), u8(code[2]), type, u8(composition_page >> 8), u8(composition_page), 0x00, 0x01};
}

Bytes TeletextPage(const char *code, u8 type, u8 magazine, u8 page)
{
    return {u8(code[0]), u8(code[1]), u8(code[2]), u8(type << 3 | (magazine & 0x07)), page};
}

}  // namespace

Bytes DvbProgramDescriptors(u16 program_number)
{
    return program_number == kDvbSecondProgram ? CADescriptor(0x0B00, 0x0209) : Bytes{};
}

std::vector<PMTStreamSpec> DvbStreams(u16 program_number)
{
    if (program_number == kDvbSecondProgram)
        return {
            {0x02, 0x0201, Descriptor(0x52, {0x01})},
            {0x03, 0x0202, Concat({Descriptor(0x52, {0x02}), Descriptor(0x0A, Language("deu", 0))})},
        };
    return {
        {0x24, 0x0101, Descriptor(0x52, {0x01})},
        // AC-3: component_type_flag, then component_type 0x42 (full service, stereo).
        {0x06, 0x0102,
         Concat({Descriptor(0x52, {0x02}), Descriptor(0x0A, Language("fra", 0)), Descriptor(0x6A, {0x80, 0x42})})},
        // E-AC-3 of 5.1 channels, the audio description track.
        {0x06, 0x0103,
         Concat({Descriptor(0x52, {0x03}), Descriptor(0x0A, Language("fra", 3)), Descriptor(0x7A, {0x80, 0x44})})},
        {0x06, 0x0104,
         Concat({Descriptor(0x52, {0x04}), Descriptor(0x0A, Language("eng", 0)), Descriptor(0x7A, {0x00})})},
        {0x06, 0x0105,
         Concat({Descriptor(0x52, {0x05}),
                 Descriptor(0x59, Concat({Subtitling("fra", 0x10, 1), Subtitling("fra", 0x20, 2)}))})},
        {0x06, 0x0106,
         Concat({Descriptor(0x52, {0x06}),
                 Descriptor(0x56, Concat({TeletextPage("fra", 0x01, 1, 0x00), TeletextPage("fra", 0x02, 0, 0x88)}))})},
        {0x06, 0x0107, Descriptor(0x52, {0x07})},
    };
}

u16 DvbPcrPid(u16 program_number) { return program_number == kDvbSecondProgram ? 0x0200 : 0x0101; }

Bytes DvbPmt(u16 program_number, const std::vector<PMTStreamSpec> &streams)
{
    // Padding (tag 0xFF is user private) makes the PMT of 257 span two packets.
    Bytes program_loop = DvbProgramDescriptors(program_number);
    if (program_number == kDvbProgram)
        program_loop = Concat({program_loop, Descriptor(0xFF, Bytes(60, 0x5A))});
    return PMTSection(program_number, 3, DvbPcrPid(program_number), program_loop, streams);
}

Recording DvbStreamsRecording(unsigned cycles)
{
    constexpr u16 kTransportStreamId = 0x0401;
    Recording recording;
    PacketBuilder builder;
    const Bytes pat = PATSection(kTransportStreamId, 0,
                                 {{0, 0x0010}, {kDvbProgram, kDvbPmtPid}, {kDvbSecondProgram, kDvbSecondPmtPid}});
    const Bytes pmts[2] = {DvbPmt(kDvbProgram, DvbStreams(kDvbProgram)),
                           DvbPmt(kDvbSecondProgram, DvbStreams(kDvbSecondProgram))};
    const Bytes sdt = SDTSection(0x42, kTransportStreamId, 0x20FA, 0,
                                 {{kDvbProgram, ServiceDescriptor(0x1F, Text("Net"), Text("France 1"))},
                                  {kDvbSecondProgram, ServiceDescriptor(0x01, Text("Net"), Text("Deutsch 2"))}});
    u64 pcr = 27000000;
    for (unsigned cycle = 0; cycle < cycles; ++cycle) {
        if (cycle % 10 == 0) {
            recording.Add(builder.Section(0x0000, pat));
            recording.Add(builder.Section(kDvbPmtPid, pmts[0]), kDvbProgram);
            recording.Add(builder.Section(kDvbSecondPmtPid, pmts[1]), kDvbSecondProgram);
            recording.Add(builder.Section(0x0011, sdt));
            recording.Add(builder.Section(0x0209, PrivateSection(0x80, 0x0000, 0, Bytes(30, u8(cycle)))),
                          kDvbSecondProgram);
        }
        recording.Add(builder.PCR(0x0101, pcr / 300, u16(pcr % 300), true, 0x11), kDvbProgram);
        recording.Add(builder.PCR(0x0200, pcr / 300, u16(pcr % 300), false), kDvbSecondProgram);
        for (u16 pid = 0x0101; pid <= 0x0107; ++pid)
            recording.Add(builder.Payload(pid, u8(pid), pid != 0x0101 && cycle % 5 == 0), kDvbProgram);
        recording.Add(builder.Payload(0x0201, 0x21, cycle % 5 == 0), kDvbSecondProgram);
        recording.Add(builder.Payload(0x0202, 0x22, cycle % 5 == 0), kDvbSecondProgram);
        recording.Add(PacketBuilder::Null());
        pcr += 27000000 / 25;
    }
    return recording;
}

}  // namespace testsupport
