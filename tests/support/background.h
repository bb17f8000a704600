// A command run in the background, for tests that look at a tool while it runs (the files it has
// open) and interrupt it there.
#ifndef PIDSIFT_TESTS_SUPPORT_BACKGROUND_H
#define PIDSIFT_TESTS_SUPPORT_BACKGROUND_H

#include <sys/types.h>

#include <functional>
#include <set>
#include <string>

namespace testsupport {

class Background {
public:
    // Starts command through the shell. Its program is to be run with exec, so that it takes the
    // shell's place and the signals sent here reach it.
    explicit Background(const std::string &command);
    ~Background();  // kills the command if it still runs
    Background(const Background &) = delete;
    Background &operator=(const Background &) = delete;

    // The paths of the descriptors the command has open, once for each descriptor.
    std::multiset<std::string> OpenFiles() const;
    // Waits until ready(OpenFiles()) holds; false after ten seconds.
    bool WaitUntil(const std::function<bool(const std::multiset<std::string> &)> &ready) const;
    // Sends signal_number and waits for the command to end: true when that signal ended it.
    bool EndedBy(int signal_number);

private:
    pid_t m_child = 0;
};

}  // namespace testsupport

#endif
