#!/usr/bin/env python3
"""Prints the code point ranges of tool/display_width.h from the Unicode data of this Python.

Zero columns: the marks that go on the character before them (general categories Mn and Me),
the format characters (Cf) but the soft hyphen and the marks written ahead of a number, and the
vowels and final consonants of Hangul that join the initial before them into one syllable.
Two columns: East Asian Width W and F, and the whole of planes 2 and 3.
Unassigned code points between two ranges join them, which keeps the tables short.
"""
import unicodedata

SHOWN_FORMAT = {0x00AD, 0x06DD, 0x070F, 0x08E2, 0x110BD, 0x110CD} | set(range(0x0600, 0x0606)) | {0x0890, 0x0891}


def category(code):
    return unicodedata.category(chr(code))


def zero(code):
    if 0x1160 <= code <= 0x11FF or 0xD7B0 <= code <= 0xD7FF:
        return True
    return category(code) in ('Mn', 'Me', 'Cf') and code not in SHOWN_FORMAT


def wide(code):
    if 0x20000 <= code <= 0x2FFFD or 0x30000 <= code <= 0x3FFFD:
        return True
    return unicodedata.east_asian_width(chr(code)) in ('W', 'F') and category(code) != 'Cn' and not zero(code)


def ranges(test):
    found = []
    start = None
    for code in range(0x110000):
        if test(code):
            if start is None:
                start = code
            continue
        if start is not None:
            if found and all(category(c) == 'Cn' for c in range(found[-1][1] + 1, start)):
                found[-1] = (found[-1][0], code - 1)
            else:
                found.append((start, code - 1))
            start = None
    return found


def table(name, found):
    print('constexpr CodeRange %s[] = {' % name)
    cells = ['{0x%04X, 0x%04X},' % pair for pair in found]
    for i in range(0, len(cells), 5):
        print('    ' + ' '.join(cells[i:i + 5]))
    print('};')


print('// Unicode %s' % unicodedata.unidata_version)
table('kZeroWidth', ranges(zero))
table('kWide', ranges(wide))
