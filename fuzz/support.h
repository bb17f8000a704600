// Shared by the fuzz targets: quiet standard output, a scratch folder on a memory file system,
// and a check that aborts (so that libFuzzer keeps the input) when a documented result is broken.
#ifndef PIDSIFT_FUZZ_SUPPORT_H
#define PIDSIFT_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <pidsift/ts.h>

namespace fuzzsupport {

// Points standard output at /dev/null: the printers' text is not what is under test, only
// that producing it stays inside its buffers.
void SilenceStdout();

// A folder of its own for the whole process (removed at exit), emptied between inputs.
const std::string &ScratchDir();
std::string ScratchFile(const std::string &name);
void ClearScratch();

bool WriteWhole(const std::string &path, const u8 *data, size_t size);
// Size of a file, or -1 when it does not exist.
long long FileSize(const std::string &path);

// Aborts with a message when condition is false.
void Check(bool condition, const char *what);

}  // namespace fuzzsupport

#endif
