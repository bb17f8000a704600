#include "background.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace testsupport {

Background::Background(const std::string &command)
{
    m_child = fork();
    if (m_child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
}

Background::~Background()
{
    if (m_child > 0 && waitpid(m_child, nullptr, WNOHANG) == 0) {
        kill(m_child, SIGKILL);
        waitpid(m_child, nullptr, 0);
    }
}

std::multiset<std::string> Background::OpenFiles() const
{
    std::multiset<std::string> open;
    const std::string fds = "/proc/" + std::to_string(m_child) + "/fd";
    DIR *listing = opendir(fds.c_str());
    for (dirent *entry; listing != nullptr && (entry = readdir(listing)) != nullptr;) {
        char target[4096];
        const ssize_t length = readlink((fds + "/" + entry->d_name).c_str(), target, sizeof target);
        if (length > 0)
            open.insert(std::string(target, size_t(length)));
    }
    if (listing != nullptr)
        closedir(listing);
    return open;
}

bool Background::WaitUntil(const std::function<bool(const std::multiset<std::string> &)> &ready) const
{
    for (int tries = 0; tries < 1000; ++tries) {
        if (ready(OpenFiles()))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool Background::EndedBy(int signal_number)
{
    kill(m_child, signal_number);
    int status = 0;
    const bool waited = waitpid(m_child, &status, 0) == m_child;
    m_child = 0;
    return waited && WIFSIGNALED(status) && WTERMSIG(status) == signal_number;
}

}  // namespace testsupport
