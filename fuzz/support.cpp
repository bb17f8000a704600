#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzzsupport {

namespace {

std::string g_strScratch;

void RemoveScratch()
{
    ClearScratch();
    rmdir(g_strScratch.c_str());
}

}  // namespace

void SilenceStdout()
{
    fflush(stdout);
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) {
        dup2(null_fd, STDOUT_FILENO);
        close(null_fd);
    }
}

const std::string &ScratchDir()
{
    if (g_strScratch.empty()) {
        // A memory file system keeps the drivers' file work off the disk.
        struct stat status;
        const char *base = stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode) ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/pidsift-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            perror("mkdtemp");
            abort();
        }
        g_strScratch = pattern;
        atexit(RemoveScratch);
    }
    return g_strScratch;
}

std::string ScratchFile(const std::string &name) { return ScratchDir() + "/" + name; }

void ClearScratch()
{
    if (g_strScratch.empty())
        return;
    DIR *dir = opendir(g_strScratch.c_str());
    if (dir == nullptr)
        return;
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            unlink((g_strScratch + "/" + name).c_str());
    }
    closedir(dir);
}

bool WriteWhole(const std::string &path, const u8 *data, size_t size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t written = write(fd, data + done, size - done);
        if (written <= 0) {
            close(fd);
            return false;
        }
        done += size_t(written);
    }
    return close(fd) == 0;
}

long long FileSize(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? (long long)status.st_size : -1;
}

void Check(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "fuzz check failed: %s\n", what);
        abort();
    }
}

}  // namespace fuzzsupport
