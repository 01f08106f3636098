// A recording fake of the platform: a table of what stands on a Windows-like
// disk, answers computed from it, every call written down in order, and any
// call made to fail on demand.
#ifndef SAVELINK_FAKE_PLATFORM_H
#define SAVELINK_FAKE_PLATFORM_H

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

enum class Kind { Folder, File, Link };

struct Entry {
    Kind kind = Kind::Folder;
    std::u16string target;  // for links
    bool junction = false;
};

// How the link calls behave, after the Windows versions and accounts they
// stand for.
struct LinkRules {
    bool knowsUnprivilegedFlag = true;  // Windows 10 1703 and later
    bool developerMode = false;
    bool privileged = false;  // holds the right to make symbolic links
    bool junctions = true;    // the volume can hold junctions
    bool symlinkReportsSuccessButMakesNothing = false;  // as Wine does
    bool followsSymbolicLinks = true;  // policy can turn local evaluation off
};

// Fails the occurrence-th call of operation (1-based; 0 for every call).
struct Failure {
    std::string operation;
    int occurrence;
    DWORD error;
};

struct State {
    std::map<std::u16string, Entry> entries;
    std::u16string roaming;
    bool roamingLookupFails = false;
    LinkRules rules;
    std::vector<Failure> failures;
    std::map<std::u16string, DWORD> refusedFolders;  // CreateDirectoryW fails there
    int failCallNumber = 0;  // fails the N-th recorded call of any kind
    DWORD failCallError = ERROR_ACCESS_DENIED;
    bool failCallPretends = false;  // ...by reporting success and doing nothing

    bool recordArguments = true;     // off where only the count and order matter
    std::vector<std::string> calls;  // "Operation argument ..." in order
    std::map<std::string, int> callsPerOperation;
    std::vector<std::u16string> directoryAttempts;  // CreateDirectoryW's paths, unit for unit
    // When set, sees each CreateDirectoryW path in place of directoryAttempts,
    // where keeping thousands of long prefixes would cost too much.
    void (*observeDirectoryAttempt)(const WCHAR* path) = nullptr;
    std::string output;
    std::string errorOutput;
};

extern State g;

// Clears everything; the drive root "C:" stands.
void Reset();
void AddFolder(const std::u16string& path);  // with its parents
void AddFile(const std::u16string& path);    // with its parents
void AddLink(const std::u16string& path, const std::u16string& target, bool junction = false);

bool Exists(const std::u16string& path);
bool IsFolder(const std::u16string& path);
bool IsFile(const std::u16string& path);
bool IsLinkTo(const std::u16string& path, const std::u16string& target);
bool OpenSameFolder(const std::u16string& first, const std::u16string& second);

// Only the calls whose text starts with prefix.
std::vector<std::string> CallsStartingWith(const std::string& prefix);

std::string Utf8(const std::u16string& text);

// The tests write paths as UTF-16 literals; the platform's WCHAR is
// char16_t on Linux and wchar_t on Windows. These copy unit for unit.
typedef std::basic_string<WCHAR> WideText;
std::u16string Text(const WCHAR* text);
WideText Wide(const std::u16string& text);

}  // namespace fake

#endif  // SAVELINK_FAKE_PLATFORM_H
