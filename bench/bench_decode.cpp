// Micro-benchmarks of the per-packet and per-section work: header decoding, section import and
// table decoding, descriptor decoding.
#include <benchmark/benchmark.h>

#include <memory>

#include "stream_builder.h"

namespace {

using namespace testsupport;

// Packets as they come in a recording: most without adaptation field, some with a PCR.
std::vector<Packet> TypicalPackets()
{
    PacketBuilder builder;
    std::vector<Packet> packets;
    for (int i = 0; i < 64; ++i)
        packets.push_back(i % 8 == 0 ? builder.PCR(0x111, u64(i) * 2700, 0, true, u8(i)) : builder.Payload(0x111, u8(i)));
    return packets;
}

void BM_PacketHeader(benchmark::State &state)
{
    const std::vector<Packet> packets = TypicalPackets();
    TS_Packet packet;
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(TS_Packet_Get(&packet, packets[i++ & 63].data()));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PacketHeader);

void BM_PATImportAndDecode(benchmark::State &state)
{
    PacketBuilder builder;
    const Packet packet = builder.Section(0, PATSection(0x7FE0, 0, {{0, 0x10}, {0x400, 0x1F0}, {0x401, 0x1F1}, {0x408, 0x1F8}}))[0];
    auto section = std::make_unique<TS_PreSection>();
    TS_PreSection_Initialise(section.get());
    TS_PAT pat;
    for (auto _ : state) {
        TS_PAT_ImportPreSection(section.get(), packet.data());
        benchmark::DoNotOptimize(TS_PAT_FromPreSection(&pat, section.get()));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PATImportAndDecode);

// A PMT of two packets with ISDB descriptors, imported and decoded.
void BM_PMTImportAndDecode(benchmark::State &state)
{
    std::vector<PMTStreamSpec> streams;
    for (u16 i = 0; i < 12; ++i)
        streams.push_back({0x06, u16(0x110 + i), Concat({Descriptor(0x52, {u8(i)}), Descriptor(0xFD, {0x00, 0x08})})});
    PacketBuilder builder;
    const Bytes bytes = PMTSection(0x400, 0, 0x111, Concat({CADescriptor(5, 0x130), Descriptor(0xC1, {0x84, 0xFF})}), streams);
    const std::vector<Packet> packets = builder.Section(0x1F0, bytes);
    auto section = std::make_unique<TS_PreSection>();
    TS_PreSection_Initialise(section.get());
    auto pmt = std::make_unique<TS_PMT>();
    for (auto _ : state) {
        for (const Packet &packet : packets)
            TS_PMT_ImportPreSection(section.get(), packet.data());
        benchmark::DoNotOptimize(TS_PMT_FromPreSection(pmt.get(), section.get(), 0x1F0));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PMTImportAndDecode);

void BM_DescriptorDecode(benchmark::State &state)
{
    const std::vector<Bytes> descriptors = {
        CADescriptor(5, 0x130, {1, 2}), Descriptor(0x52, {0x10}), Descriptor(0x0A, {'j', 'p', 'n', 0}),
        Descriptor(0x02, {0x48, 0x04, 0x5F}), Descriptor(0xC1, {0x84, 0xFF}), Descriptor(0x10, {0xC0, 0, 0x10, 0xC0, 2, 0}),
    };
    TS_Descriptor descriptor;
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(TS_GetDescriptor(&descriptor, descriptors[i++ % descriptors.size()].data()));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DescriptorDecode);

}  // namespace
