#include "tests/fake_platform.h"

#include <string.h>

namespace fake {

State g;

static DWORD g_lastError = ERROR_SUCCESS;

std::u16string Text(const WCHAR* text)
{
    std::u16string units;
    for (; *text != 0; ++text)
        units += char16_t(*text);
    return units;
}

WideText Wide(const std::u16string& text)
{
    return WideText(text.begin(), text.end());
}

std::string Utf8(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned long point = text[i];
        if (point >= 0xD800 && point <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            point = 0x10000 + ((point - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (point >= 0xD800 && point <= 0xDFFF) {
            point = 0xFFFD;
        }
        if (point < 0x80) {
            out += char(point);
        } else if (point < 0x800) {
            out += char(0xC0 | (point >> 6));
            out += char(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            out += char(0xE0 | (point >> 12));
            out += char(0x80 | ((point >> 6) & 0x3F));
            out += char(0x80 | (point & 0x3F));
        } else {
            out += char(0xF0 | (point >> 18));
            out += char(0x80 | ((point >> 12) & 0x3F));
            out += char(0x80 | ((point >> 6) & 0x3F));
            out += char(0x80 | (point & 0x3F));
        }
    }
    return out;
}

static std::u16string Parent(const std::u16string& path)
{
    size_t separator = path.rfind(u'\\');
    return separator == std::u16string::npos ? std::u16string() : path.substr(0, separator);
}

void Reset()
{
    g = State();
    g_lastError = ERROR_SUCCESS;
    g.entries[u"C:"] = Entry();
}

static void AddWithParents(const std::u16string& path, const Entry& entry)
{
    std::u16string parent = Parent(path);
    if (!parent.empty() && g.entries.count(parent) == 0)
        AddWithParents(parent, Entry());
    g.entries[path] = entry;
}

void AddFolder(const std::u16string& path)
{
    AddWithParents(path, Entry());
}

void AddFile(const std::u16string& path)
{
    Entry entry;
    entry.kind = Kind::File;
    AddWithParents(path, entry);
}

void AddLink(const std::u16string& path, const std::u16string& target, bool junction)
{
    Entry entry;
    entry.kind = Kind::Link;
    entry.target = target;
    entry.junction = junction;
    AddWithParents(path, entry);
}

// Follows links, at most eight in a row; nullptr when nothing is reached.
static const Entry* Resolve(const std::u16string& path, std::u16string* reached)
{
    std::u16string current = path;
    for (int hops = 0; hops <= 8; ++hops) {
        auto found = g.entries.find(current);
        if (found == g.entries.end())
            return nullptr;
        if (found->second.kind == Kind::Link && !found->second.junction && !g.rules.followsSymbolicLinks)
            return nullptr;
        if (found->second.kind != Kind::Link) {
            if (reached != nullptr)
                *reached = current;
            return &found->second;
        }
        current = found->second.target;
    }
    return nullptr;
}

bool Exists(const std::u16string& path)
{
    return g.entries.count(path) != 0;
}

bool IsFolder(const std::u16string& path)
{
    auto found = g.entries.find(path);
    return found != g.entries.end() && found->second.kind == Kind::Folder;
}

bool IsFile(const std::u16string& path)
{
    auto found = g.entries.find(path);
    return found != g.entries.end() && found->second.kind == Kind::File;
}

bool IsLinkTo(const std::u16string& path, const std::u16string& target)
{
    auto found = g.entries.find(path);
    return found != g.entries.end() && found->second.kind == Kind::Link && found->second.target == target;
}

bool OpenSameFolder(const std::u16string& first, const std::u16string& second)
{
    std::u16string a;
    std::u16string b;
    const Entry* one = Resolve(first, &a);
    const Entry* two = Resolve(second, &b);
    return one != nullptr && two != nullptr && one->kind == Kind::Folder && two->kind == Kind::Folder &&
           a == b;
}

static bool HasChildren(const std::u16string& path)
{
    auto next = g.entries.upper_bound(path);
    std::u16string prefix = path + u"\\";
    return next != g.entries.end() && next->first.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> CallsStartingWith(const std::string& prefix)
{
    std::vector<std::string> selected;
    for (const std::string& call : g.calls)
        if (call.compare(0, prefix.size(), prefix) == 0)
            selected.push_back(call);
    return selected;
}

// Writes the call down; true when it is to fail, with the error set.
static bool Record(const std::string& operation, const std::string& arguments = std::string())
{
    int occurrence = ++g.callsPerOperation[operation];
    g.calls.push_back(arguments.empty() || !g.recordArguments ? operation : operation + " " + arguments);
    if (g.failCallNumber == int(g.calls.size()) && !g.failCallPretends) {
        g_lastError = g.failCallError;
        return true;
    }
    for (const Failure& failure : g.failures) {
        if (failure.operation == operation && (failure.occurrence == 0 || failure.occurrence == occurrence)) {
            g_lastError = failure.error;
            return true;
        }
    }
    return false;
}

// For the calls that change the disk: true when this one is to report
// success and change nothing.
static bool Pretends()
{
    return g.failCallPretends && g.failCallNumber == int(g.calls.size());
}

static int Fail(DWORD error)
{
    g_lastError = error;
    return 0;
}

// The parent must be a folder, reached through links or not.
static bool ParentIsFolder(const std::u16string& path)
{
    const Entry* parent = Resolve(Parent(path), nullptr);
    return parent != nullptr && parent->kind == Kind::Folder;
}

}  // namespace fake

using namespace fake;

DWORD GetLastError(void)
{
    return g_lastError;
}

void SetLastError(DWORD code)
{
    g_lastError = code;
}

BOOL SHGetSpecialFolderPathW(HWND, WCHAR* path, int folder, BOOL create)
{
    if (Record("SHGetSpecialFolderPathW", std::to_string(folder) + (create ? " create" : " nocreate")) ||
        g.roamingLookupFails)
        return FALSE;
    // The documented contract: the buffer holds MAX_PATH units.
    size_t length = g.roaming.size() < MAX_PATH ? g.roaming.size() : MAX_PATH - 1;
    for (size_t i = 0; i < length; ++i)
        path[i] = WCHAR(g.roaming[i]);
    path[length] = 0;
    return TRUE;
}

BOOL CreateDirectoryW(const WCHAR* path, LPSECURITY_ATTRIBUTES)
{
    std::u16string key = Text(path);
    if (g.observeDirectoryAttempt != nullptr)
        g.observeDirectoryAttempt(path);
    else
        g.directoryAttempts.push_back(key);
    if (Record("CreateDirectoryW", g.recordArguments ? Utf8(key) : std::string()))
        return FALSE;
    if (Pretends())
        return TRUE;
    if (Exists(key))
        return Fail(ERROR_ALREADY_EXISTS);
    if (g.refusedFolders.count(key) != 0)
        return Fail(g.refusedFolders[key]);
    if (Parent(key).empty())
        return Fail(ERROR_ACCESS_DENIED);  // a drive or server name
    if (!ParentIsFolder(key))
        return Fail(ERROR_PATH_NOT_FOUND);
    g.entries[key] = Entry();
    return TRUE;
}

BOOL RemoveDirectoryW(const WCHAR* path)
{
    std::u16string key = Text(path);
    if (Record("RemoveDirectoryW", Utf8(key)))
        return FALSE;
    if (Pretends())
        return TRUE;
    auto found = g.entries.find(key);
    if (found == g.entries.end())
        return Fail(ParentIsFolder(key) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    if (found->second.kind == Kind::File)
        return Fail(ERROR_DIRECTORY);
    if (found->second.kind == Kind::Folder && HasChildren(key))
        return Fail(ERROR_DIR_NOT_EMPTY);
    g.entries.erase(found);
    return TRUE;
}

BOOLEAN CreateSymbolicLinkW(const WCHAR* link, const WCHAR* target, DWORD flags)
{
    std::u16string key = Text(link);
    if (Record("CreateSymbolicLinkW", Utf8(key) + " -> " + Utf8(Text(target)) + " " + std::to_string(flags)))
        return FALSE;
    if (Pretends())
        return TRUE;
    const LinkRules& rules = g.rules;
    bool unprivileged = (flags & SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
    if ((flags & ~DWORD(3)) != 0 || (unprivileged && !rules.knowsUnprivilegedFlag))
        return Fail(ERROR_INVALID_PARAMETER);
    if (!rules.privileged && !(unprivileged && rules.developerMode))
        return Fail(ERROR_PRIVILEGE_NOT_HELD);
    if (rules.symlinkReportsSuccessButMakesNothing)
        return TRUE;
    if (Exists(key))
        return Fail(ERROR_ALREADY_EXISTS);
    if (!ParentIsFolder(key))
        return Fail(ERROR_PATH_NOT_FOUND);
    AddLink(key, Text(target));
    return TRUE;
}

// Only a local drive path, "X:\\...", can be a junction's target.
static bool IsDrivePath(const std::u16string& path)
{
    return path.size() >= 3 && ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')) &&
           path[1] == u':' && path[2] == u'\\';
}

int CreateDirectoryJunction(const WCHAR* link, const WCHAR* target)
{
    std::u16string key = Text(link);
    if (Record("CreateDirectoryJunction", Utf8(key) + " -> " + Utf8(Text(target))))
        return 0;
    if (Pretends())
        return TRUE;
    if (!IsDrivePath(Text(target)))
        return Fail(ERROR_INVALID_REPARSE_DATA);
    if (Exists(key))
        return Fail(ERROR_ALREADY_EXISTS);
    if (!ParentIsFolder(key))
        return Fail(ERROR_PATH_NOT_FOUND);
    if (!g.rules.junctions)
        return Fail(ERROR_INVALID_FUNCTION);
    AddLink(key, Text(target), true);
    return 1;
}

int IsExistingFolder(const WCHAR* path)
{
    if (Record("IsExistingFolder", Utf8(Text(path))))
        return 0;
    const Entry* entry = Resolve(Text(path), nullptr);
    return entry != nullptr && entry->kind == Kind::Folder;
}

int IsDirectoryLink(const WCHAR* path)
{
    if (Record("IsDirectoryLink", Utf8(Text(path))))
        return 0;
    auto found = g.entries.find(Text(path));
    return found != g.entries.end() && found->second.kind == Kind::Link;
}

int IsEmptyFolder(const WCHAR* path)
{
    if (Record("IsEmptyFolder", Utf8(Text(path))))
        return 0;
    std::u16string reached;
    const Entry* entry = Resolve(Text(path), &reached);
    return entry != nullptr && entry->kind == Kind::Folder && !HasChildren(reached);
}

int GetLinkDestination(const WCHAR* path, WCHAR* destination, size_t capacity)
{
    if (Record("GetLinkDestination", Utf8(Text(path))))
        return 0;
    std::u16string reached;
    if (Resolve(Text(path), &reached) == nullptr || reached.size() + 1 > capacity)
        return Fail(ERROR_PATH_NOT_FOUND);
    for (size_t i = 0; i <= reached.size(); ++i)
        destination[i] = WCHAR(i < reached.size() ? reached[i] : 0);
    return 1;
}

void Sleep(DWORD milliseconds)
{
    Record("Sleep", std::to_string(milliseconds));
}

int IsSameFolder(const WCHAR* first, const WCHAR* second)
{
    if (Record("IsSameFolder", Utf8(Text(first)) + " = " + Utf8(Text(second))))
        return 0;
    return OpenSameFolder(Text(first), Text(second));
}

void DescribeError(DWORD code, WCHAR* text, size_t capacity)
{
    std::string words = "error " + std::to_string(code);
    size_t i = 0;
    for (; i < words.size() && i + 1 < capacity; ++i)
        text[i] = WCHAR(words[i]);
    text[i] = 0;
}

void WriteStandardOutput(const char* text, size_t length)
{
    if (!Record("WriteStandardOutput"))
        g.output.append(text, length);
}

void WriteErrorText(const WCHAR* text)
{
    if (!Record("WriteErrorText"))
        g.errorOutput += Utf8(Text(text));
}

int RunCommandLine(const char* commandLine)
{
    if (Record("RunCommandLine", commandLine))
        return -1;
    return 0;
}
