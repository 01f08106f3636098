// Feeds CreateDirectoryTree any text, of any length and any units, over the
// recording fake, and checks it attempts exactly what it must: the whole path,
// then each prefix ending before a separator from index 2 on, in order, then
// the whole path again; and that the caller's text stays as it was.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "fs/directory_tree.h"
#include "tests/fake_platform.h"

static void Check(bool condition)
{
    if (!condition)
        abort();
}

// The path as the routine must see it, and where the attempts have got to.
static std::vector<WCHAR> g_working;
static size_t g_attempts;
static size_t g_nextSeparatorFrom;  // where to look for the next prefix's end
static bool g_prefixesDone;

// The attempts, checked one by one as they come: storing thousands of long
// prefixes would make each input cost quadratic memory.
static void ObserveAttempt(const WCHAR* path)
{
    const size_t length = g_working.size() - 1;
    size_t expectedLength = length;
    if (g_attempts > 0 && !g_prefixesDone) {
        size_t i = g_nextSeparatorFrom;
        while (i < length && g_working[i] != '\\')
            ++i;
        if (i < length) {
            expectedLength = i;
            g_nextSeparatorFrom = i + 1;
        } else {
            g_prefixesDone = true;
        }
    } else {
        Check(g_attempts == 0);  // nothing may follow the final attempt
    }
    ++g_attempts;
    Check(memcmp(path, g_working.data(), expectedLength * sizeof(WCHAR)) == 0);
    Check(path[expectedLength] == 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses whether every create call fails, so that the
    // whole walk is taken even where the fake disk would allow the first try.
    bool everyCallFails = (data[0] & 1) != 0;
    std::vector<WCHAR> text;
    for (size_t i = 1; i + 1 < size; i += 2) {
        WCHAR unit = WCHAR(data[i] | (data[i + 1] << 8));
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    text.push_back(0);
    const std::vector<WCHAR> original = text;
    const size_t length = text.size() - 1;

    g_working = text;
    for (WCHAR& unit : g_working)
        if (unit == '/')
            unit = '\\';
    g_attempts = 0;
    g_nextSeparatorFrom = 2;
    g_prefixesDone = false;

    fake::Reset();
    fake::g.recordArguments = false;
    fake::g.observeDirectoryAttempt = ObserveAttempt;
    if (everyCallFails)
        fake::g.failures.push_back({"CreateDirectoryW", 0, ERROR_ACCESS_DENIED});

    int result = CreateDirectoryTree(text.data());

    Check(text == original);
    if (length < 2 || length >= TREE_PATH_CAPACITY) {
        Check(result == 0 && g_attempts == 0);
        return 0;
    }
    if (result == 1 && g_attempts == 1) {
        Check(!everyCallFails);  // the first attempt made it
        return 0;
    }
    // The walk ended with the whole path, after every prefix.
    Check(g_prefixesDone);
    Check(result == 0 || result == 1);
    if (everyCallFails)
        Check(result == 0);
    return 0;
}
