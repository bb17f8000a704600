// Block writer: packets are collected in large blocks, which a write thread writes while the run
// reads on. Reading and writing a recording both cost a copy through the kernel; done one after
// the other they add up, done on the machine's two cores they overlap.
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "io/io.h"

namespace {

// Writes all count bytes, retrying on EINTR and after short writes. false on failure.
bool TS_WriteAll(int fd, const u8 *bytes, u64 count)
{
    while (count > 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0)
            errno = ENOSPC;  // a write that takes nothing: the device is full
        if (written <= 0)
            return false;
        bytes += written;
        count -= u64(written);
    }
    return true;
}

int TS_Writer_Fail(TS_Writer *writer)
{
    if (!writer->u8Failed && writer->strPath != nullptr)
        writer->pQueue->Reporter().Fail(TS_FAILED_WRITE, writer->strPath, errno);
    writer->u8Failed = 1;
    return -6;
}

struct TS_WriteJob {
    TS_Writer *pWriter;
    u8 *lu8Block;
    u32 u32Length;
};

// Jobs waiting at once: a writer's own block and the spares; more writers wait for a free slot.
constexpr u32 kJobCapacity = TS_MAX_PROGRAMS + TS_WRITER_SPARE_BLOCKS;

}  // namespace

// The write thread and what it shares with the run, under one lock.
class TS_WriteQueue::Thread {
public:
    ~Thread()
    {
        if (!m_tThread.joinable())
            return;
        {
            std::lock_guard<std::mutex> lock(m_tMutex);
            m_bStop = true;
        }
        m_tWork.notify_one();
        m_tThread.join();
    }

    // Hands the writer's filled block over; the writer is left without a block. false when a
    // write of the writer's has failed: the block is then dropped, and errno says why.
    bool HandOver(TS_Writer *writer)
    {
        std::unique_lock<std::mutex> lock(m_tMutex);
        if (writer->s32LateError != 0) {
            errno = writer->s32LateError;
            return false;
        }
        Start();
        m_tDone.wait(lock, [this] { return m_u32Count < kJobCapacity; });
        m_ltJob[(m_u32Head + m_u32Count) % kJobCapacity] = {writer, writer->lu8Block, writer->u32Used};
        ++m_u32Count;
        ++writer->u32Pending;
        writer->lu8Block = nullptr;
        m_tWork.notify_one();
        return true;
    }

    // Gives the writer an empty block: the caller's own unless it waits to be written (the PMT
    // split's files share theirs), else a spare; waits for one of them to be free.
    void Acquire(TS_Writer *writer)
    {
        std::unique_lock<std::mutex> lock(m_tMutex);
        // A spare holds a whole block only up to TS_WRITER_BLOCK bytes.
        const bool spare_fits = writer->u32Capacity <= TS_WRITER_BLOCK;
        m_tDone.wait(lock, [&] { return !IsQueued(writer->lu8Home) || (spare_fits && m_u32SpareCount > 0); });
        writer->lu8Block = !IsQueued(writer->lu8Home) ? writer->lu8Home : m_lpSpare[--m_u32SpareCount];
    }

    // Waits until every block of the writer is written, and takes back the spare it holds.
    // Returns the errno of a failed write, or 0.
    int Drain(TS_Writer *writer)
    {
        std::unique_lock<std::mutex> lock(m_tMutex);
        m_tDone.wait(lock, [writer] { return writer->u32Pending == 0; });
        if (IsSpare(writer->lu8Block))
            m_lpSpare[m_u32SpareCount++] = writer->lu8Block;
        writer->lu8Block = nullptr;
        return writer->s32LateError;
    }

private:
    bool IsQueued(const u8 *block) const
    {
        for (u32 i = 0; i < m_u32Count; ++i)
            if (m_ltJob[(m_u32Head + i) % kJobCapacity].lu8Block == block)
                return true;
        return false;
    }

    bool IsSpare(const u8 *block) const
    {
        return m_pu8Spares && block >= m_pu8Spares.get() &&
               block < m_pu8Spares.get() + size_t(TS_WRITER_SPARE_BLOCKS) * TS_WRITER_BLOCK;
    }

    void Start()
    {
        if (m_tThread.joinable())
            return;
        m_pu8Spares.reset(new u8[size_t(TS_WRITER_SPARE_BLOCKS) * TS_WRITER_BLOCK]);
        for (u32 i = 0; i < TS_WRITER_SPARE_BLOCKS; ++i)
            m_lpSpare[m_u32SpareCount++] = m_pu8Spares.get() + size_t(i) * TS_WRITER_BLOCK;
        // The thread takes no signal: those of the tools (an interrupted split removes its
        // files) are handled by the run's own thread.
        sigset_t all;
        sigset_t before;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &before);
        m_tThread = std::thread([this] { Run(); });
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }

    void Run()
    {
        std::unique_lock<std::mutex> lock(m_tMutex);
        for (;;) {
            m_tWork.wait(lock, [this] { return m_u32Count > 0 || m_bStop; });
            if (m_u32Count == 0)
                return;
            const TS_WriteJob job = m_ltJob[m_u32Head];
            TS_Writer *writer = job.pWriter;
            // After a failed write nothing more is written to that file, as when the writes
            // were made in line and the run stopped at the first failure.
            const bool write = writer->s32LateError == 0;
            lock.unlock();
            int error = 0;
            if (write && writer->pfnTake != nullptr)
                error = writer->pfnTake(writer->pTakeContext, job.lu8Block, job.u32Length);
            else if (write && !TS_WriteAll(writer->s32FD, job.lu8Block, job.u32Length))
                error = errno != 0 ? errno : EIO;
            lock.lock();
            m_u32Head = (m_u32Head + 1) % kJobCapacity;
            --m_u32Count;
            if (error != 0)
                writer->s32LateError = error;
            if (IsSpare(job.lu8Block))
                m_lpSpare[m_u32SpareCount++] = job.lu8Block;
            --writer->u32Pending;
            m_tDone.notify_all();
        }
    }

    std::mutex m_tMutex;
    std::condition_variable m_tWork;  // a job was handed over, or the thread is to stop
    std::condition_variable m_tDone;  // a job was written: a block and a job slot are free
    TS_WriteJob m_ltJob[kJobCapacity] = {};
    u32 m_u32Head = 0;
    u32 m_u32Count = 0;
    std::unique_ptr<u8[]> m_pu8Spares;
    u8 *m_lpSpare[TS_WRITER_SPARE_BLOCKS] = {};
    u32 m_u32SpareCount = 0;
    bool m_bStop = false;
    std::thread m_tThread;
};

TS_WriteQueue::TS_WriteQueue(const TS_Reporter &reporter) : m_tReporter(reporter), m_pThread(std::make_unique<Thread>())
{
}

TS_WriteQueue::~TS_WriteQueue() = default;

void TS_Writer_Attach(TS_Writer *writer, TS_WriteQueue *queue, int fd, const char *path, u8 *block, u32 capacity)
{
    writer->pQueue = queue;
    writer->s32FD = fd;
    writer->strPath = path;
    writer->pfnTake = nullptr;
    writer->pTakeContext = nullptr;
    writer->lu8Block = nullptr;
    writer->lu8Home = block;
    writer->u32Capacity = capacity - capacity % TS_PACKET_SIZE;
    writer->u32Used = 0;
    writer->u8Failed = 0;
    writer->u32Pending = 0;
    writer->s32LateError = 0;
}

void TS_Writer_AttachTaker(TS_Writer *writer, TS_WriteQueue *queue, int (*take)(void *, const u8 *, size_t),
                           void *context, u8 *block, u32 capacity)
{
    TS_Writer_Attach(writer, queue, -1, nullptr, block, capacity);
    writer->pfnTake = take;
    writer->pTakeContext = context;
}

namespace {

int TS_OpenRetried(const char *path, int flags)
{
    int fd;
    do
        fd = open(path, flags | O_WRONLY | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

int TS_Writer_Open(TS_Writer *writer, TS_WriteQueue *queue, const char *path, u8 *block, u32 capacity, bool *created)
{
    // Creating exclusively first tells a new file from one that was there. A name that exists
    // is then opened as it stands; one that is gone again (removed meanwhile, or a symbolic link
    // to nowhere, which an exclusive create never follows) is opened as a plain create would,
    // and not counted as made here.
    bool made = true;
    int fd = TS_OpenRetried(path, O_CREAT | O_EXCL);
    if (fd < 0 && errno == EEXIST) {
        made = false;
        fd = TS_OpenRetried(path, O_TRUNC);
        if (fd < 0 && errno == ENOENT)
            fd = TS_OpenRetried(path, O_CREAT | O_TRUNC);
    }
    if (created != nullptr)
        *created = fd >= 0 && made;
    TS_Writer_Attach(writer, queue, fd, path, block, capacity);
    return fd < 0 ? -3 : 0;
}

int TS_Writer_Flush(TS_Writer *writer)
{
    if (writer->u8Failed)
        return -6;
    if (writer->u32Used == 0)
        return 0;
    const bool handed_over = writer->pQueue->Worker().HandOver(writer);
    writer->u32Used = 0;
    return handed_over ? 0 : TS_Writer_Fail(writer);
}

int TS_Writer_PutAfterFlush(TS_Writer *writer, const u8 *packet)
{
    // Called without a block, with a full one, or after a failure (which the flush returns).
    if (TS_Writer_Flush(writer) < 0)
        return -6;
    writer->pQueue->Worker().Acquire(writer);
    std::memcpy(writer->lu8Block + writer->u32Used, packet, TS_PACKET_SIZE);
    writer->u32Used += TS_PACKET_SIZE;
    return 0;
}

int TS_Writer_Close(TS_Writer *writer)
{
    if (!TS_Writer_IsOpen(writer))
        return 0;
    int result = TS_Writer_Flush(writer);
    const int late_error = writer->pQueue->Worker().Drain(writer);
    if (late_error != 0 && result == 0) {
        errno = late_error;
        result = TS_Writer_Fail(writer);
    }
    // close can report a delayed write error (NFS, quota): it is a failed write too.
    if (writer->s32FD >= 0 && close(writer->s32FD) != 0 && result == 0 && errno != EINTR)
        result = TS_Writer_Fail(writer);
    writer->s32FD = -1;
    writer->pfnTake = nullptr;
    return result;
}
