// A text field decoded to UTF-8 the way the text tests read them all.
#ifndef PIDSIFT_TESTS_SUPPORT_TEXT_FIELD_H
#define PIDSIFT_TESTS_SUPPORT_TEXT_FIELD_H

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include <pidsift/ts.h>

namespace testsupport {

// The field's text in family, from a heap block of exactly the field's size (so that a read
// past it is caught under ASan), checking what every call must hold: the result is the length
// of a NUL-terminated text within capacity.
inline std::string DecodedText(const std::string &field, int family, int capacity = 1024)
{
    std::unique_ptr<u8[]> bytes(new u8[field.size()]);
    std::memcpy(bytes.get(), field.data(), field.size());
    std::string out(size_t(capacity) + 1, '\x7F');
    const int written = TS_Text_ToUTF8(out.data(), capacity, bytes.get(), int(field.size()), family);
    EXPECT_GE(written, 0);
    EXPECT_EQ(out[size_t(written)], '\0');
    EXPECT_EQ(std::strlen(out.c_str()), size_t(written));
    return out.substr(0, size_t(written));
}

}  // namespace testsupport

#endif  // PIDSIFT_TESTS_SUPPORT_TEXT_FIELD_H
