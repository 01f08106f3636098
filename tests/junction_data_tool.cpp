// Writes to standard output the junction data that BuildJunctionData makes
// for the target given as UTF-8, so that a script can hand it to a real
// NTFS implementation. Exits 1 when the data is refused.
#include <stdio.h>
#include <string.h>

#include "platform/junction_data.h"

int main(int argc, char** argv)
{
    static WCHAR target[4096];
    static unsigned char data[JUNCTION_DATA_CAPACITY];
    const unsigned char* in;
    size_t used = 0;
    size_t size;

    if (argc != 2)
        return 2;
    // Well-formed UTF-8 only: the script passes its own paths.
    for (in = (const unsigned char*)argv[1]; *in != 0 && used + 2 < 4096;) {
        unsigned long point;
        int extra = *in >= 0xF0 ? 3 : *in >= 0xE0 ? 2 : *in >= 0xC0 ? 1 : 0;
        point = extra == 0 ? *in : (unsigned long)(*in & (0x3F >> extra));
        for (int k = 1; k <= extra; ++k)
            point = (point << 6) | (in[k] & 0x3F);
        in += extra + 1;
        if (point >= 0x10000) {
            target[used++] = (WCHAR)(0xD800 + ((point - 0x10000) >> 10));
            target[used++] = (WCHAR)(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            target[used++] = (WCHAR)point;
        }
    }
    size = BuildJunctionData(target, data, sizeof data);
    if (size == 0)
        return 1;
    fwrite(data, 1, size, stdout);
    return 0;
}
