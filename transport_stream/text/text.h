// The text that the printers write, and the sink it goes to.
#ifndef PIDSIFT_TRANSPORT_STREAM_TEXT_TEXT_H
#define PIDSIFT_TRANSPORT_STREAM_TEXT_TEXT_H

#include <cstring>

#include <pidsift/sink.h>
#include <pidsift/ts.h>

// Where one printer, or one run, writes: the bytes gather in the sink's buffer and go on to the
// target when the buffer is full and at Flush (and when the sink ends). A FILE target gets them
// through its own stdio buffer, as a printf would put them there.
class TS_Sink {
public:
    explicit TS_Sink(FILE *file = stdout) : m_pFile(file) {}
    explicit TS_Sink(std::string *text) : m_pText(text) {}
    explicit TS_Sink(std::function<void(const char *, size_t)> write) : m_fnWrite(std::move(write)) {}
    // The caller's choice; standard output when it names none.
    explicit TS_Sink(const pidsift::TextSink &target);
    ~TS_Sink() { Flush(); }
    TS_Sink(const TS_Sink &) = delete;
    TS_Sink &operator=(const TS_Sink &) = delete;

    void Write(const char *bytes, size_t count)
    {
        if (count > kCapacity - m_u32Used)
            return WriteLong(bytes, count);
        std::memcpy(m_lcBuffer + m_u32Used, bytes, count);
        m_u32Used += u32(count);
    }
    void Put(char c)
    {
        if (m_u32Used == kCapacity)
            Drain();
        m_lcBuffer[m_u32Used++] = c;
    }
    // Room for count bytes (at most kReserve) at the end of the text: write them there, then
    // Commit how many were written.
    char *Reserve(u32 count)
    {
        if (count > kCapacity - m_u32Used)
            Drain();
        return m_lcBuffer + m_u32Used;
    }
    void Commit(u32 count) { m_u32Used += count; }

    // Hands what is gathered to the target.
    void Flush() { Drain(); }

    static constexpr u32 kCapacity = 8192;
    static constexpr u32 kReserve = 1024;

private:
    void Drain();
    void WriteLong(const char *bytes, size_t count);

    FILE *m_pFile = nullptr;
    std::string *m_pText = nullptr;
    std::function<void(const char *, size_t)> m_fnWrite;
    u32 m_u32Used = 0;
    char m_lcBuffer[kCapacity];
};

// Prints count bytes as "0x%02X, ", "\n  " after every byte whose index has its low four bits
// set, and one newline at the end: the hex dump shared by every printer that ends in data.
void TS_Text_PrintBytes(TS_Sink *out, const u8 *bytes, int count);

// printf, puts and putchar for the printers: the conversions %d %u %x %X %s %c with the l and ll
// sizes, a width and zero padding, formatted without the C library's printf.
int TS_Text_Printf(TS_Sink *out, const char *format, ...) __attribute__((format(printf, 2, 3)));
int TS_Text_Puts(TS_Sink *out, const char *text);
inline int TS_Text_Putchar(TS_Sink *out, int c)
{
    out->Put(char(c));
    return u8(c);
}

// What a printer of the public header does: print to standard output, through a sink of its own
// that hands its text over when print(TS_Sink *) returns.
template <class Print> int TS_Text_ToStdout(Print &&print)
{
    TS_Sink out;
    return print(&out);
}

// Names of PIDs, table_ids, stream types and descriptor tags, as TS_Header_PIDToString,
// TS_Section_TagToString, TS_Header_StreamTypeToString and TS_DescriptorTagToString copy them: "?" for a value without
// one. Static strings.
const char *TS_Name_PID(u16 pid);
const char *TS_Name_TableId(u8 table_id);
const char *TS_Name_StreamType(u8 stream_type);
const char *TS_Name_DescriptorTag(u8 descriptor_tag);
// The tables a PID of 0x0002 to 0x002F is reserved for by its number ("SDT/BAT", "TDT/TOT"), or
// "reserved for tables" for the others of that range.
const char *TS_Name_TablePID(u16 pid);

#endif  // PIDSIFT_TRANSPORT_STREAM_TEXT_TEXT_H
