// A PMT stream's identity from the descriptors the demux parsed out of its ES_info loop.
#include <pidsift/demux.h>
#include <pidsift/streams.h>

namespace pidsift {

StreamIdentity IdentifyStream(const PmtStream &stream)
{
    // The loop again as broadcast: each descriptor's tag, its length and its body.
    std::vector<u8> loop;
    for (const Descriptor &descriptor : stream.descriptors) {
        loop.push_back(descriptor.tag);
        loop.push_back(u8(descriptor.body.size()));
        loop.insert(loop.end(), descriptor.body.begin(), descriptor.body.end());
    }
    return IdentifyStream(stream.stream_type, loop);
}

}  // namespace pidsift
