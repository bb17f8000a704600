// Where a printer's text goes: a FILE *, a string the text is appended to, or a callback that
// takes each piece. With none of them set, standard output.
#ifndef PIDSIFT_TRANSPORT_STREAM_SINK_H
#define PIDSIFT_TRANSPORT_STREAM_SINK_H

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace pidsift {

struct TextSink {
    std::FILE *file = nullptr;
    std::string *text = nullptr;
    std::function<void(const char *bytes, std::size_t count)> write;
};

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_SINK_H
