// Runs a fuzz target's entry point once per file named on the command line (folders are walked
// one level deep), so that the normal and sanitizer builds replay the seed corpus and every
// input a fuzzing run has ever kept, without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace {

int RunFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);
    int failures = 0;
    int runs = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat status;
        if (stat(argv[i], &status) != 0) {
            fprintf(stderr, "missing %s\n", argv[i]);
            ++failures;
            continue;
        }
        if (!S_ISDIR(status.st_mode)) {
            failures += RunFile(argv[i]);
            ++runs;
            continue;
        }
        DIR *dir = opendir(argv[i]);
        std::vector<std::string> names;
        while (const dirent *entry = dir != nullptr ? readdir(dir) : nullptr)
            if (entry->d_name[0] != '.')
                names.push_back(std::string(argv[i]) + "/" + entry->d_name);
        if (dir != nullptr)
            closedir(dir);
        for (const std::string &name : names) {
            failures += RunFile(name);
            ++runs;
        }
    }
    fprintf(stderr, "%d inputs replayed, %d unreadable\n", runs, failures);
    return failures == 0 && runs > 0 ? 0 : 1;
}
