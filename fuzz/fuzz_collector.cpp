// The demux's section collector against a plain model of ISO/IEC 13818-1's section layout.
//
// The input is cut into 188-byte packets of one PID, taken as they are but for the sync byte;
// every header bit (payload_unit_start_indicator, adaptation_field_control, the counter) and
// every payload byte is the fuzzer's. The model below reads the same packets its own way: it
// slices each payload into the tail of the section in progress and the sections that start
// behind pointer_field, and judges a section's CRC_32 bit by bit. Both must deliver the same
// sections, in the same order, with the same CRC_32 verdict and the same account of which
// began in an earlier packet, and say the same of every packet (taken, a duplicate, the section
// in progress ended).
#include <array>
#include <cstdio>
#include <vector>

#include "demux/section_collector.h"
#include "support.h"

using fuzzsupport::Check;

namespace {

using Bytes = std::vector<u8>;
using Packet = std::array<u8, 188>;

struct Delivered {
    Bytes bytes;
    bool carried;
    bool has_crc;
    bool crc_ok;
    bool operator==(const Delivered &other) const = default;
};

struct PacketAccount {
    bool taken;
    bool duplicate;
    bool carried_ended;
    std::vector<Delivered> sections;
    bool operator==(const PacketAccount &other) const = default;
};

u32 BitwiseCRC(const Bytes &bytes)
{
    u32 crc = 0xFFFFFFFF;
    for (u8 byte : bytes) {
        crc ^= u32(byte) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// The plain model: the section in progress is a byte vector; a payload is cut into slices.
class Model {
public:
    PacketAccount Take(const Packet &p)
    {
        PacketAccount account = {};
        const int control = (p[3] >> 4) & 3;
        if (control == 0 || control == 2)
            return account;
        const size_t start = control == 3 ? 5 + size_t(p[4]) : 4;
        if (start >= 188)
            return account;
        const int counter = p[3] & 0x0F;
        if (counter == m_counter) {
            account.duplicate = true;
            return account;
        }
        account.taken = true;
        const bool in_order = m_counter != -1 && counter == (m_counter + 1) % 16;
        m_counter = counter;
        const bool had = m_active;
        if (!in_order)
            m_active = false;
        const Bytes payload(p.begin() + long(start), p.end());
        if ((p[1] & 0x40) == 0) {
            if (m_active) {
                Continue(payload, &account);
                account.carried_ended = !m_active;
            } else {
                account.carried_ended = had;
            }
            return account;
        }
        const size_t pointer = payload[0];
        if (1 + pointer > payload.size()) {
            m_active = false;
            account.carried_ended = had;
            return account;
        }
        if (m_active)
            Continue(Bytes(payload.begin() + 1, payload.begin() + 1 + long(pointer)), &account);
        m_active = false;
        account.carried_ended = had;
        // The sections that start in this packet, one after the other.
        size_t at = 1 + pointer;
        while (at < payload.size() && payload[at] != 0xFF) {
            const size_t left = payload.size() - at;
            if (left < 3 || left < 3 + Length(payload, at)) {
                m_pending.assign(payload.begin() + long(at), payload.end());
                m_active = true;
                break;
            }
            const size_t total = 3 + Length(payload, at);
            Deliver(Bytes(payload.begin() + long(at), payload.begin() + long(at + total)), false, &account);
            at += total;
        }
        return account;
    }

private:
    static size_t Length(const Bytes &bytes, size_t at)
    {
        return size_t(((bytes[at + 1] & 0x0F) << 8) | bytes[at + 2]);
    }

    // Bytes for the section in progress; once it has its length and all of it, it is delivered
    // and what follows is stuffing.
    void Continue(const Bytes &bytes, PacketAccount *account)
    {
        m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
        if (m_pending.size() < 3 || m_pending.size() < 3 + Length(m_pending, 0))
            return;
        m_pending.resize(3 + Length(m_pending, 0));
        Deliver(m_pending, true, account);
        m_active = false;
    }

    static void Deliver(const Bytes &section, bool carried, PacketAccount *account)
    {
        const bool long_form = (section[1] & 0x80) != 0;
        const bool has_crc =
            section.size() >= (long_form ? 12u : 7u) && (long_form || section[0] <= 0x02 || section[0] == 0x73);
        account->sections.push_back({section, carried, has_crc, has_crc && BitwiseCRC(section) == 0});
    }

    int m_counter = -1;
    bool m_active = false;
    Bytes m_pending;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    pidsift::SectionCollector collector(0x0012);
    Model model;
    for (size_t offset = 0; offset + 188 <= size; offset += 188) {
        Packet packet;
        std::copy(data + offset, data + offset + 188, packet.begin());
        packet[0] = 0x47;
        PacketAccount got = {};
        const pidsift::FeedOutcome outcome = collector.Feed(packet.data(), [&](const pidsift::Section &section,
                                                                               bool carried) {
            Check(section.length >= 3 && section.length <= pidsift::kSectionCapacity, "a section fits the collector");
            got.sections.push_back(
                {Bytes(section.bytes, section.bytes + section.length), carried, section.has_crc, section.crc_ok});
        });
        got.taken = outcome.bTaken;
        got.duplicate = outcome.bDuplicate;
        got.carried_ended = outcome.bCarriedEnded;
        const PacketAccount expected = model.Take(packet);
        if (!(got == expected))
            fprintf(stderr,
                    "packet %zu: collector %zu sections (taken %d, duplicate %d, ended %d), model %zu (%d, %d, %d)\n",
                    offset / 188, got.sections.size(), got.taken, got.duplicate, got.carried_ended,
                    expected.sections.size(), expected.taken, expected.duplicate, expected.carried_ended);
        Check(got == expected, "the collector delivers what the model delivers");
    }
    return 0;
}
