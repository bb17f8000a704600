// C++ interface of pidsift's demux: one object that owns the reading of one recording. It takes
// the bytes of a file, of standard input, or of a caller who pushes them in pieces of any size
// (from a socket, a pipe, memory), finds the packets in them, collects the sections of the PIDs
// asked for and keeps the tables in force: the PAT, the PMT of every program, the CAT, the
// services of the SDT and the network's name. Callers subscribe to tables and packets; every
// table holds all that its section carries.
//
// A Demux keeps all its state in itself: two demuxes may run at once on two threads.
//
//     pidsift::Demux demux;
//     demux.OnPat([](const pidsift::Pat &pat) { ... });
//     demux.Run("recording.ts");            // or Feed(bytes, size) ... Finish()
//     for (const pidsift::Program &program : demux.Programs()) ...
#ifndef PIDSIFT_TRANSPORT_STREAM_DEMUX_H
#define PIDSIFT_TRANSPORT_STREAM_DEMUX_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <pidsift/si_tables.h>
#include <pidsift/sink.h>
#include <pidsift/ts.h>

namespace pidsift {

// A descriptor of a table's loop: descriptor_tag, the descriptor_length bytes of its body, and
// where its tag stands in the table's section.
struct Descriptor {
    u8 tag = 0;
    std::vector<u8> body;
    u32 offset = 0;
};

// What every long-form table section starts with (ISO/IEC 13818-1 2.4.4.10).
struct TableHeader {
    u8 table_id = 0;
    u16 section_length = 0;
    u16 table_id_extension = 0;  // transport_stream_id, program_number, network_id, ...
    u8 version_number = 0;
    u8 current_next_indicator = 0;
    u8 section_number = 0;
    u8 last_section_number = 0;
};

// An entry of the PAT's program loop. pid is the network_PID when program_number is 0, else the
// program_map_PID (13 bits).
struct PatEntry {
    u16 program_number = 0;
    u16 pid = 0;
};

struct Pat {
    TableHeader header;
    std::vector<PatEntry> entries;  // every entry of the section, in its order
    u32 crc = 0;                    // CRC_32 as the section carries it
    std::vector<u8> section;        // the bytes of the section, CRC_32 included

    u16 transport_stream_id() const { return header.table_id_extension; }
};

struct PmtStream {
    u8 stream_type = 0;
    u16 elementary_pid = 0;
    std::vector<Descriptor> descriptors;
};

struct Pmt {
    TableHeader header;
    u16 pid = 0;  // the PID whose packets carried it
    u16 pcr_pid = 0x1FFF;
    std::vector<Descriptor> descriptors;  // the program loop
    std::vector<PmtStream> streams;       // every stream of the section, in its order
    u32 crc = 0;
    std::vector<u8> section;

    u16 program_number() const { return header.table_id_extension; }
    // CA_PID of the first conditional-access descriptor of the program loop (the ECM PID), or
    // TS_NO_PID.
    u16 EcmPid() const;
};

struct Cat {
    TableHeader header;
    std::vector<Descriptor> descriptors;
    u32 crc = 0;
    std::vector<u8> section;

    // CA_PID of the first conditional-access descriptor (the EMM PID), or TS_NO_PID.
    u16 EmmPid() const;
};

// A complete section as it was collected on a PID. crc_ok: the section has a CRC_32 (the long
// form, and the PAT, CAT, PMT and TOT whatever their indicator) and it checks; false for a
// section that has none (has_crc false).
struct Section {
    u16 pid = 0;
    const u8 *bytes = nullptr;
    u32 length = 0;  // 3 + section_length
    bool has_crc = false;
    bool crc_ok = false;

    u8 table_id() const { return bytes[0]; }
};

// A service of the actual SDT (table_id 0x42) of the PAT's transport stream, gathered over its
// sections. The names are the broadcast's bytes; their UTF-8 text is decoded with the text
// family the recording showed (TS_TEXT_DVB or TS_TEXT_ARIB, see TS_SetTextFamily).
struct Service {
    u16 service_id = 0;
    bool has_service_descriptor = false;
    u8 service_type = 0;
    std::vector<u8> provider_name_bytes;
    std::vector<u8> name_bytes;
    std::string provider_name;
    std::string name;

    bool operator==(const Service &) const = default;
};

// A program of the PAT in force (the network entry left out), with its PMT once one came.
struct Program {
    u16 program_number = 0;
    u16 pmt_pid = 0;
    const Pmt *pmt = nullptr;  // valid until the next call into the demux
};

struct CheckEvent;  // <pidsift/check.h>

// What a run tells its caller, and how it names its files: each belongs to one run, so that two
// runs in one process never share them. An empty hook is not called.
struct RunSettings {
    // Bytes read so far, and the input's size (0 when unknown), once per read.
    std::function<void(u64 bytes_read, u64 total)> progress;
    // A failed system call (TS_FAILED_...) on path with its errno (0 for a refusal of ours).
    // Empty: the library's own message on standard error (TS_PrintFailure).
    std::function<void(int failure, const char *path, int error_number)> message;
    // An output file of a split: opened (created tells whether the run made it), and finished
    // with everything written to it.
    std::function<void(const char *path, bool created)> output_opened;
    std::function<void(const char *path)> output_done;
    // The text before "_<...>.ts" in the names of a split's files; empty: the input's path less
    // its extension.
    std::string split_base;
    // How the names of the SDT and NIT are decoded (TS_TEXT_DVB, TS_TEXT_ARIB or TS_TEXT_AUTO).
    int text_family = TS_TEXT_AUTO;
    // Where the run prints its text (the dump's blocks); standard output when none is set.
    TextSink printed;
    // What the recording check (pidsift::Check) meets, as it meets it. Empty: no events, and
    // none of the per-program packet counts they carry.
    std::function<void(const CheckEvent &)> check_event;
};

class DemuxCore;

class Demux {
public:
    Demux();
    ~Demux();
    Demux(const Demux &) = delete;
    Demux &operator=(const Demux &) = delete;

    // ---- Subscriptions: made before the bytes come, or from inside a callback ---------------
    // Tables: each time a section of the table completes and is used. A section whose CRC_32
    // fails is not used once its PID has delivered a good one; until then sections are used as
    // they are.
    void OnPat(std::function<void(const Pat &)> callback);
    void OnPmt(std::function<void(const Pmt &)> callback);  // of every program of the PAT
    void OnCat(std::function<void(const Cat &)> callback);
    // Every complete section on pid, damaged ones included, packed ones each.
    void OnSections(u16 pid, std::function<void(const Section &)> callback);
    // Packets (188 bytes from the sync byte): of one PID, of every PID, or of one program (its
    // PMT sections, PCR, ECM and streams, each packet once, in the order of the input).
    void OnPackets(u16 pid, std::function<void(const u8 *packet)> callback);
    void OnAllPackets(std::function<void(const u8 *packet)> callback);
    void OnProgramPackets(u16 program_number, std::function<void(const u8 *packet)> callback);
    // The PMT of every program is kept when asked for (or with OnPmt); without, only those of
    // the programs subscribed to.
    void KeepPmts();
    // The services of the SDT and the network's name are kept only when asked for before the
    // run (they cost a section collector on PIDs 0x0010 and 0x0011).
    void KeepServices(int text_family = TS_TEXT_AUTO);

    // ---- Input ---------------------------------------------------------------------------------
    // Reads a whole file ("-": standard input). 0; -2 when it cannot be opened, -5 on a read
    // error (with the library's message, as the drivers print it).
    int Run(const char *path);
    // Pushes the next bytes of a recording, in pieces of any size; Finish() once it has ended.
    void Feed(const u8 *data, size_t size);
    void Finish();

    // ---- What is in force -------------------------------------------------------------------
    const Pat *pat() const;  // null before the first PAT
    const Cat *cat() const;
    std::vector<Program> Programs() const;
    const Pmt *PmtOf(u16 program_number) const;
    std::vector<Service> Services() const;  // with KeepServices, in the order of the SDT
    std::string NetworkName() const;        // with KeepServices: of the last actual NIT
    u64 Packets() const;                    // packets found so far

private:
    std::unique_ptr<DemuxCore> m_core;
    struct Subscribers;
    std::unique_ptr<Subscribers> m_subscribers;
};

// ---- The operations on a whole recording, each run with its settings ----------------------------
//
// Each reads the file at path with every program of the PAT, tells its failures through
// settings.message (the library's message on standard error when it is empty), its progress
// through settings.progress, and the files that the splits and ExtractProgram write through
// settings.output_opened and output_done. They keep nothing in the records of <pidsift/ts.h>:
// runs on several threads at once give what each gives alone.

// The programs of the last PAT of the file (the network entry left out), in the order of its
// section. 0; -2 when the file cannot be opened, -5 on a read error (programs then holds those
// of the last PAT read before it).
int ListPrograms(const char *path, std::vector<PatEntry> *programs, const RunSettings &settings = {});

// The listing and, in the same pass, the copy of the program whose PMT is on pid to the
// descriptor open_output returns (called at most once, at the first PAT that lists pid; -1 on
// failure), as TS_GetProgramListAndSplit does, with every program listed.
int ListProgramsAndExtract(const char *path, u16 pid, int (*open_output)(void *context), void *context,
                           int *split_result, std::vector<PatEntry> *programs, const RunSettings &settings = {});

// Where the copy's bytes go in place of a file: take(context, bytes, count) is called with the
// program's bytes in blocks of about 1 MiB, in order, on the run's write thread (the run reads
// on meanwhile); it returns 0, or an errno that ends the copy as a failed write (-6).
struct BlockTaker {
    int (*take)(void *context, const u8 *bytes, size_t count) = nullptr;
    void *context = nullptr;
};
// The listing and the copy as above, the copy's bytes handed to taker from the first PAT that
// lists pid on. split_result: 0 once the copy began, 1 when no PAT listed pid, -6 after a failure
// of take (no block is handed over after it).
int ListProgramsAndExtract(const char *path, u16 pid, const BlockTaker &taker, int *split_result,
                           std::vector<PatEntry> *programs, const RunSettings &settings = {});

// pidsift's filter: the PMT, PCR, ECM and stream packets of the program whose PMT is on pmt_pid,
// byte for byte into output, as TS_ProgramSplitStream. 0; -2, -3, -5, -6 as it gives them.
int CopyProgram(const char *path, u16 pmt_pid, const char *output, const RunSettings &settings = {});

// One program into a recording that plays on its own, as TS_ProgramExtractFile: chosen by its PMT
// PID, or by program_number when pmt_pid is TS_NO_PID; output null: "<base>_<program>_0_0.ts".
// The output is made once the program's PMT comes. 0; -2, -3, -4 (no PAT listed it), -5, -6,
// -7 (a PAT listed it, but its PMT never came: no output made).
int ExtractProgram(const char *path, u16 pmt_pid, u16 program_number, const char *output,
                   const RunSettings &settings = {});

// One file per program of the PAT, "<base>_<program>_<index>_<k>.ts", as TS_ProgramSplitFile. 0;
// -2, -3 (a file cannot be opened), -5, -6. A program whose PMT never comes gets no file (the
// reduced PATs of a file wait for the program's PMT); programs_without_pmt, when given, receives
// their program_numbers, in the order the PATs listed them first.
int SplitPrograms(const char *path, const RunSettings &settings = {});
int SplitPrograms(const char *path, const RunSettings &settings, std::vector<u16> *programs_without_pmt);

// A run of one PMT in a single-program recording: the CRC_32 that tells the PMT apart, how many
// earlier runs had it, and the bytes SplitPmt writes for it.
struct PmtSegment {
    u32 crc = 0;
    u16 index = 0;
    u64 bytes = 0;
};

// The PMT segments of a single-program recording, as TS_CheckPMTSplit lists them (the first
// TS_MAX_PMT_SEGMENTS). 0; -2, -3 (a PAT of more than two entries), -5.
int ListPmtSegments(const char *path, std::vector<PmtSegment> *segments, const RunSettings &settings = {});

// The cut of a single-program recording at its PMT changes, as TS_PMTSplitFile: one file per
// distinct PMT, "<base>_<CRC_32>.ts"; or only the parts under the PMT of crc, into output (null:
// "<base>_<CRC_32>.ts"). 0; -2, -3, -4 (a file cannot be opened), -5, -6.
int SplitPmt(const char *path, const RunSettings &settings = {});
int SplitPmt(const char *path, u32 crc, const char *output, const RunSettings &settings = {});

// ---- What a program had on air: for the names of the files a split writes ---------------------

// The event on air at the start of a recording of one program, as the first complete
// present/following pair of the EIT of the actual transport stream gives it for the service
// whose service_id is the program_number, and the service's names from the actual SDT.
struct ProgramOnAir {
    u16 program_number = 0;  // 0: no PAT listed the program
    bool has_service = false;
    std::string service;   // UTF-8
    std::string provider;  // UTF-8
    bool has_event = false;
    EitEvent event;             // the present event of the pair (has_event false: no pair, or no event in it)
    int family = TS_TEXT_AUTO;  // how the texts and times read: TS_TEXT_DVB or TS_TEXT_ARIB
};

// The first pass of a split named after its program: reads path until the first complete
// present/following pair of the program's service has come and the SDT has named the service
// (or some ten seconds of broadcast past the pair without it), or to the end. The program by its
// PMT PID, or by program_number when pmt_pid is TS_NO_PID; texts decoded in settings.text_family.
// 0; -2 when path cannot be opened, -4 when no PAT listed the program, -5 on a read error.
int FindProgramOnAir(const char *path, u16 pmt_pid, u16 program_number, ProgramOnAir *on_air,
                     const RunSettings &settings = {});

// A file name from a template: {service}, {provider}, {program} (the program_number), {title}
// (the event's name), {start} or {start:FORMAT} (the event's start on the broadcast's own clock,
// UTC for DVB and Japan time for ISDB, through strftime; %Y%m%d-%H%M without a FORMAT), {genre}
// (the level-1 name of the event's first genre); '{{' and '}}' are the braces themselves. A
// field without a value is empty; the spaces it leaves are tidied (runs made one, none at the
// ends nor before the extension). '/', NUL and control characters become '_'; a name of more
// than 255 bytes is cut before its extension. False, with the reason in *error, for an unknown
// field, an unpaired brace, or a template that leaves no usable name (empty, or starting with '.').
bool ExpandNameTemplate(const std::string &name_template, const ProgramOnAir &on_air, std::string *name,
                        std::string *error);

// ---- pidsift-dump: the blocks of a recording, as text or JSON Lines ------------------------------

// Prints to settings.printed the blocks that mask selects (the TS_PRINT_* bits of TS_Print and
// TS_DumpOptions), as TS_Dump does, with every entry of every PAT, PMT and CAT; names decoded as
// settings.text_family says. 0; -2 when path cannot be opened, -5 on a read error.
int Dump(const char *path, int mask, const RunSettings &settings);

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DEMUX_H
