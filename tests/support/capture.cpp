#include "capture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include <pidsift/demux.h>

#include "text/json.h"

namespace testsupport {

std::string CaptureStdout(const std::function<void()> &print)
{
    fflush(stdout);
    FILE *sink = tmpfile();
    const int saved = dup(fileno(stdout));
    dup2(fileno(sink), fileno(stdout));
    print();
    fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    std::string text;
    rewind(sink);
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, sink)) > 0)
        text.append(chunk, got);
    fclose(sink);
    return text;
}

std::string Printed(const std::function<void(TS_Sink *)> &print)
{
    std::string text;
    {
        TS_Sink out(&text);
        print(&out);
    }
    return text;
}

std::string CaptureJsonObject(const std::function<void(TS_Json *)> &members)
{
    return Printed([&](TS_Sink *out) {
        TS_Json json;
        TS_Json_Start(&json, out);
        TS_Json_ObjectBegin(&json);
        members(&json);
        TS_Json_ObjectEnd(&json);
        TS_Json_EndLine(&json);
    });
}

bool ReadFile(const std::string &path, std::string *contents)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    *contents = buffer.str();
    return true;
}

std::string DumpedText(const std::string &path, int mask, int *result)
{
    std::string text;
    pidsift::RunSettings settings;
    settings.printed.text = &text;
    *result = pidsift::Dump(path.c_str(), mask, settings);
    return text;
}

size_t Occurrences(const std::string &text, const std::string &what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

std::string GoldenPath(const std::string &name)
{
    return std::string(PIDSIFT_SOURCE_DIR) + "/tests/golden/" + name + ".txt";
}

std::string CompareWithGolden(const std::string &name, const std::string &text)
{
    const std::string path = GoldenPath(name);
    const char *regenerate = std::getenv("PIDSIFT_REGENERATE_GOLDEN");
    if (regenerate != nullptr && std::string(regenerate) == "1") {
        std::ofstream(path, std::ios::binary) << text;
        return "";
    }
    std::string expected;
    if (!ReadFile(path, &expected))
        return "golden file " + path + " is missing (set PIDSIFT_REGENERATE_GOLDEN=1 to write it)";
    if (expected == text)
        return "";
    size_t at = 0;
    while (at < expected.size() && at < text.size() && expected[at] == text[at])
        ++at;
    std::ostringstream message;
    message << "output differs from " << path << " at byte " << at << "\n--- expected ---\n"
            << expected << "\n--- printed ---\n"
            << text;
    return message.str();
}

}  // namespace testsupport
