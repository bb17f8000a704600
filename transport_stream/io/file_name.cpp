// Output file names of the split drivers: the input's name without its extension.
#include <cstring>

#include <pidsift/ts.h>

namespace {

constexpr size_t kBaseNameCapacity = 65536;  // g_strString1, the buffer the split drivers pass

bool IsQuote(char c) { return c == '"' || c == '\''; }

}  // namespace

// Copies path into base without its extension: everything from the last '.' of the file name
// on is cut. A path enclosed in quotes loses its opening quote, and its closing one along with
// the extension. The scan back from the end stops at a directory separator ('\\' or '/'), so a
// dot in a directory name is never taken for an extension. The first character is never looked
// at, so a path such as ".ts" stays whole.
// -2: the copy would not fit the 65,536-byte buffer (nothing written).
int GetBaseFileName(char *base, const char *path)
{
    if (base == nullptr || path == nullptr)
        return -1;
    const size_t length = std::strlen(path);
    const bool quoted = length > 0 && IsQuote(path[0]) && path[length - 1] == path[0];
    const char *from = quoted ? path + 1 : path;
    const size_t copied = quoted ? length - 1 : length;
    if (copied >= kBaseNameCapacity)
        return -2;
    std::memcpy(base, from, copied + 1);

    // Start at the last character of the copy, the closing quote for a quoted path.
    if (copied < 2)
        return 0;
    for (size_t i = copied - 1; i > 0; --i) {
        if (base[i] == '\\' || base[i] == '/')
            break;
        if (base[i] == '.') {
            base[i] = '\0';
            break;
        }
    }
    return 0;
}
