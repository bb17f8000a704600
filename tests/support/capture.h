// Test helpers for printed output: capture what a call prints on standard output, and compare
// it with a golden file under tests/golden/.
#ifndef PIDSIFT_TESTS_SUPPORT_CAPTURE_H
#define PIDSIFT_TESTS_SUPPORT_CAPTURE_H

#include <cstddef>
#include <functional>
#include <string>

struct TS_Json;
class TS_Sink;

namespace testsupport {

// Runs print with standard output redirected, and returns every byte it printed: for what can
// print nowhere else (the public header's printers, the tools' own output).
std::string CaptureStdout(const std::function<void()> &print);

// What print writes to a sink of its own: a string.
std::string Printed(const std::function<void(TS_Sink *)> &print);

// What a JSON form writes (to a string sink) as one document of its own: an object whose members members() writes
// through the writer, and the end of its line.
std::string CaptureJsonObject(const std::function<void(TS_Json *)> &members);

// What pidsift-dump prints of the file at path under mask (pidsift::Dump), as a string, and what
// the run returned.
std::string DumpedText(const std::string &path, int mask, int *result);

// How many times what occurs in text, overlapping ones included.
size_t Occurrences(const std::string &text, const std::string &what);

// Reads a whole file; the bool is false when it cannot be read.
bool ReadFile(const std::string &path, std::string *contents);

// Path of a golden file: tests/golden/<name>.txt in the source tree.
std::string GoldenPath(const std::string &name);

// Compares text with the golden file name. With PIDSIFT_REGENERATE_GOLDEN=1 in the environment
// the file is rewritten instead (review the diff before committing it). Returns an empty string
// on a match, else a description of the first difference.
std::string CompareWithGolden(const std::string &name, const std::string &text);

}  // namespace testsupport

#endif
