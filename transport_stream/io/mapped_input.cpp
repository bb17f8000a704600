// Mapped windows of the input, and the SIGBUS guard that keeps a file shrinking under a window
// from ending the process.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdint>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/mapped_input.h"

namespace {

// The window the thread scans. SIGBUS from a lost page is delivered to the thread that touched
// it, so the handler needs no table of every thread's windows; the variable is set before the
// first fault can come, so the handler never makes the thread's storage.
thread_local TS_MapWindow *t_pWindowInUse = nullptr;

// What SIGBUS did before the library's handler: signal dispositions belong to the process, and
// this is set once, before the handler can run.
struct sigaction g_tPreviousBusAction;

u64 PageSize()
{
    static const u64 size = [] {
        const long page = sysconf(_SC_PAGESIZE);
        return page > 0 ? u64(page) : u64(4096);
    }();
    return size;
}

void PassOn(int signal, siginfo_t *info, void *context)
{
    const struct sigaction &previous = g_tPreviousBusAction;
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler != nullptr) {
        previous.sa_handler(signal);
        return;
    }
    // The default action: the faulting access runs again and the signal, now taken by default,
    // ends the process as it would have without the library. An ignored SIGBUS from a fault
    // cannot be ignored either.
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGBUS, &fallback, nullptr);
}

void OnBusError(int signal, siginfo_t *info, void *context)
{
    TS_MapWindow *window = t_pWindowInUse;
    const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    const uintptr_t base = reinterpret_cast<uintptr_t>(window == nullptr ? nullptr : window->pu8Base);
    if (window != nullptr && address >= base && address - base < window->u64Length) {
        // The page is gone from the file: zeros take its place, and the run is told.
        void *page = reinterpret_cast<void *>(address & ~uintptr_t(PageSize() - 1));
        if (mmap(page, PageSize(), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            window->bLost = true;
            return;
        }
    }
    PassOn(signal, info, context);
}

void InstallBusGuard()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action = {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &g_tPreviousBusAction);
    });
}

}  // namespace

u64 TS_Map_PageSize() { return PageSize(); }

bool TS_Map_Mappable(int fd, u64 *start, u64 *file_size)
{
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    const off_t position = lseek(fd, 0, SEEK_CUR);
    if (position < 0 || u64(position) >= u64(status.st_size))
        return false;
    *start = u64(position);
    *file_size = u64(status.st_size);
    return true;
}

bool TS_Map_Open(TS_MapWindow *window, int fd, u64 offset, u64 length)
{
    InstallBusGuard();
    // The pages are brought in at once: one call for the window in place of a fault for every
    // few pages the scan reaches.
    void *base = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, off_t(offset));
    if (base == MAP_FAILED)
        return false;
    madvise(base, length, MADV_SEQUENTIAL);
    window->pu8Base = static_cast<const u8 *>(base);
    window->u64Length = length;
    window->bLost = false;
    t_pWindowInUse = window;
    return true;
}

bool TS_Map_Close(TS_MapWindow *window)
{
    if (window->pu8Base == nullptr)
        return true;
    t_pWindowInUse = nullptr;
    munmap(const_cast<u8 *>(window->pu8Base), window->u64Length);
    window->pu8Base = nullptr;
    return !window->bLost;
}

// ---- The windows of a run -----------------------------------------------------------------------

TS_InputWindows::~TS_InputWindows() { TS_Map_Close(&m_tWindow); }

bool TS_InputWindows::Start(int fd, u64 window_size)
{
    if (!TS_Map_Mappable(fd, &m_u64Next, &m_u64FileSize))
        return false;
    m_s32FD = fd;
    m_u64WindowSize = window_size < 2 * TS_Map_PageSize() ? 2 * TS_Map_PageSize() : window_size;
    m_u64MappedEnd = m_u64Next;
    return true;
}

// Moves what the window in hand has from *pos on (capacity bytes at most) to the stream buffer,
// which becomes the bytes in hand, and lets the window go. false when pages of it were lost.
bool TS_InputWindows::Leave(TS_Sync *sync, u8 *stream, u64 capacity, const u8 **bytes, u64 *size, u64 *pos)
{
    if (m_tWindow.pu8Base == nullptr)
        return true;
    m_u64Next = m_u64FirstPage + *pos;
    const u64 left = *size - *pos;
    const u64 kept = left < capacity ? left : capacity;
    std::memcpy(stream, m_tWindow.pu8Base + *pos, kept);
    // The bytes read end with the kept ones, as the read loop's end with its buffer: the offsets
    // of the bytes in hand count back from there. Only a stop keeps fewer than the window left.
    sync->u64BytesRead -= left - kept;
    *bytes = stream;
    *size = kept;
    *pos = 0;
    return TS_Map_Close(&m_tWindow);
}

int TS_InputWindows::Next(TS_Sync *sync, u8 *stream, const u8 **bytes, u64 *size, u64 *pos, const char *path,
                          const TS_Reporter &reporter)
{
    // A tail is a packet cut by the window's end or a hunt's candidate with the 33 units that are
    // to confirm it: far less than the stream buffer.
    if (!Leave(sync, stream, TS_READ_BLOCK, bytes, size, pos)) {
        reporter.Fail(TS_FAILED_READ, path, EIO);
        return -5;
    }
    const u64 page = TS_Map_PageSize();
    const u64 first_page = m_u64Next & ~(page - 1);
    const u64 window_end = first_page + m_u64WindowSize;
    // A small window from the tail's page may hold nothing beyond the tail: it then reaches a
    // window's size past the end of the one before.
    u64 end = window_end > m_u64MappedEnd ? window_end : m_u64MappedEnd + m_u64WindowSize;
    if (end > m_u64FileSize)
        end = m_u64FileSize;
    if (end <= m_u64MappedEnd || !TS_Map_Open(&m_tWindow, m_s32FD, first_page, end - first_page)) {
        // The read loop goes on from the end of the last window, behind the tail.
        if (lseek(m_s32FD, off_t(m_u64MappedEnd), SEEK_SET) < 0) {
            reporter.Fail(TS_FAILED_READ, path, errno);
            return -5;
        }
        return 0;
    }
    sync->u64BytesRead += end - m_u64MappedEnd;
    m_u64MappedEnd = end;
    m_u64FirstPage = first_page;
    *bytes = m_tWindow.pu8Base;
    *size = end - first_page;
    *pos = m_u64Next - first_page;
    return 1;
}

int TS_InputWindows::Stop(TS_Sync *sync, u8 *stream, u64 capacity, const u8 **bytes, u64 *size, u64 *pos,
                          const char *path, const TS_Reporter &reporter)
{
    if (Leave(sync, stream, capacity, bytes, size, pos))
        return 0;
    reporter.Fail(TS_FAILED_READ, path, EIO);
    return -5;
}
