// The file layer on Windows. Names come as UTF-8 and go to the system's
// wide calls as UTF-16. The temporary beside the target is marked for
// deletion from the moment it is created until it is renamed over the
// target through its own handle, so that the system removes it however the
// program ends before that, even when it is killed. The system's error
// codes become errno values where a save's errors have one, so that a
// reason reads the same as on Linux.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/save_file.h"
#include "image/system_types.h"

namespace velmora {

namespace {

constexpr DWORD LargestWrite = DWORD{1} << 20;

// The errno value of a Win32 error that a save can meet, or
// WindowsErrorBase plus the code for the others.
int ErrorNumberOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME: return ENOENT;
        case ERROR_ACCESS_DENIED: return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_WRITE_PROTECT: return EROFS;
        case ERROR_CANT_RESOLVE_FILENAME: return ELOOP;
        case ERROR_NO_UNICODE_TRANSLATION: return EILSEQ;
        case ERROR_FILE_TOO_LARGE: return EFBIG;
        case ERROR_CRC:
        case ERROR_IO_DEVICE: return EIO;
        default: return code < 0x10000 ? WindowsErrorBase + static_cast<int>(code) : EIO;
    }
}

int LastError() {
    return ErrorNumberOf(::GetLastError());
}

// UTF-8 to UTF-16, refusing bytes that are no UTF-8.
std::optional<std::wstring> Widen(std::string_view text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                             static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
    return wide;
}

std::string Narrow(std::wstring_view text) {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                             nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(std::max(length, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                          nullptr);
    return narrow;
}

// Owns a file handle and closes it when it goes.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    [[nodiscard]] HANDLE Get() const noexcept { return handle_; }
    [[nodiscard]] bool Valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
    void Close() noexcept { Reset(INVALID_HANDLE_VALUE); }
    void Reset(HANDLE handle) noexcept {
        if (Valid()) {
            ::CloseHandle(handle_);
        }
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

// A full name in the form that lifts the 260-character limit.
std::wstring LongForm(std::wstring full) {
    if (full.starts_with(L"\\\\?\\")) {
        return full;
    }
    if (full.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

// The full name of name, taken from the current folder when relative.
std::optional<std::wstring> FullName(const std::wstring& name) {
    const DWORD length = ::GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return std::nullopt;
    }
    std::wstring full(length, L'\0');
    const DWORD written = ::GetFullPathNameW(name.c_str(), length, full.data(), nullptr);
    if (written == 0 || written >= length) {
        return std::nullopt;
    }
    full.resize(written);
    return LongForm(std::move(full));
}

// The name of the file an open handle stands for, links resolved.
std::optional<std::wstring> FinalName(HANDLE file) {
    std::wstring final(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return std::nullopt;
        }
        if (length < final.size()) {
            final.resize(length);
            return LongForm(std::move(final));
        }
        final.assign(length + 1, L'\0');
    }
    return std::nullopt;
}

// Where the save writes for fileName: the file a link leads to, and whether
// it exists. Returns 0, or the error number that stops the save.
int ResolveTarget(const std::wstring& name, std::wstring& target, bool& exists) {
    // Opened for no access at all, only to learn what the name is; a folder
    // opens only with backup semantics, and must be seen to be refused.
    FileHandle probe(::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!probe.Valid()) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            return ErrorNumberOf(error);
        }
        // A name that is there but leads nowhere is a dangling link.
        if (::GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return ENOENT;
        }
        const std::optional<std::wstring> full = FullName(name);
        if (!full) {
            return LastError();
        }
        target = *full;
        exists = false;
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(probe.Get(), &information)) {
        // Devices (NUL, CON, a port) have no file information.
        return ::GetFileType(probe.Get()) == FILE_TYPE_DISK ? LastError() : NotRegularFileError;
    }
    if (::GetFileType(probe.Get()) != FILE_TYPE_DISK ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return NotRegularFileError;
    }
    // A read-only file is not replaced behind the user's back.
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return EACCES;
    }
    const std::optional<std::wstring> final = FinalName(probe.Get());
    if (!final) {
        return LastError();
    }
    target = *final;
    exists = true;
    return 0;
}

// The folder part of a full name, with its last separator.
std::wstring FolderOf(const std::wstring& full) {
    const std::size_t separator = full.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : full.substr(0, separator + 1);
}

// A hidden-looking name for a temporary, ".velmora-" and six characters.
std::wstring NewTemporaryName() {
    static std::atomic<std::uint64_t> counter{0};
    constexpr std::wstring_view Letters = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    std::uint64_t bits = static_cast<std::uint64_t>(now.QuadPart) ^
                         static_cast<std::uint64_t>(::GetCurrentProcessId()) << 40 ^
                         counter.fetch_add(0x9E3779B97F4A7C15u);
    bits = (bits ^ bits >> 30) * 0xBF58476D1CE4E5B9u;
    bits = (bits ^ bits >> 27) * 0x94D049BB133111EBu;
    bits ^= bits >> 31;
    std::wstring name = L".velmora-";
    for (int i = 0; i < 6; ++i, bits /= Letters.size()) {
        name += Letters[bits % Letters.size()];
    }
    return name;
}

// Marks an open file for deletion when its last handle closes, or unmarks it.
bool MarkForDeletion(HANDLE file, bool marked) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = marked ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Renames an open file over target through its handle. Returns false, the
// last error telling why, when the rename fails.
bool RenameOver(HANDLE file, const std::wstring& target) {
    const std::size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(rename->FileName, target.c_str(), nameBytes + sizeof(wchar_t));
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != 0;
}

// Writes content to file and flushes it, watching progress. Returns 0 or
// the error number.
int WriteAndFlush(HANDLE file, const save_file::Content& content, save_file::Progress& progress) {
    int failure = 0;
    const bool written = content([&](std::span<const std::uint8_t> bytes) {
        if (progress.StopAsked()) {
            failure = SaveStoppedError;
            return false;
        }
        while (!bytes.empty()) {
            const DWORD size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), LargestWrite));
            DWORD done = 0;
            if (!::WriteFile(file, bytes.data(), size, &done, nullptr) || done == 0) {
                failure = done == 0 && ::GetLastError() == ERROR_SUCCESS ? EIO : LastError();
                return false;
            }
            progress.Wrote(done);
            bytes = bytes.subspan(done);
        }
        save_file::Pause(save_file::Stage::Chunk);
        return true;
    });
    if (!written) {
        return failure != 0 ? failure : ENOMEM;
    }
    if (progress.StopAsked()) {
        return SaveStoppedError;
    }
    if (!::FlushFileBuffers(file)) {
        return LastError();
    }
    save_file::Pause(save_file::Stage::Flushed);
    return progress.StopAsked() ? SaveStoppedError : 0;
}

}  // namespace

namespace save_file {

int SaveFile(std::string_view fileName, const Content& content, SaveControl* control) {
    const std::optional<std::wstring> name = Widen(fileName);
    if (!name) {
        return EILSEQ;
    }
    std::wstring target;
    bool exists = false;
    if (const int failure = ResolveTarget(*name, target, exists); failure != 0) {
        return failure;
    }
    if (exists) {
        // Opening for writing, which changes nothing, tells whether the
        // user may write the file and whether another program holds it.
        FileHandle check(::CreateFileW(target.c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!check.Valid()) {
            return LastError();
        }
    }
    Progress progress(control);
    if (progress.StopAsked()) {
        return SaveStoppedError;
    }

    const std::wstring folder = FolderOf(target);
    std::wstring temporary;
    FileHandle file(INVALID_HANDLE_VALUE);
    for (int attempt = 0; attempt < 100 && !file.Valid(); ++attempt) {
        temporary = folder + NewTemporaryName();
        file.Reset(::CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid() && ::GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    if (!file.Valid()) {
        const DWORD error = ::GetLastError();
        // The target may be written (checked above), so a refusal to create
        // a file beside it is the folder's.
        return error == ERROR_ACCESS_DENIED ? FolderNotWritableError : ErrorNumberOf(error);
    }
    // Where the file system cannot mark it, the temporary is removed by name
    // on every failure below.
    const bool marked = MarkForDeletion(file.Get(), true);
    const auto abandon = [&](int failure) {
        if (!marked || !MarkForDeletion(file.Get(), true)) {
            file.Close();
            ::DeleteFileW(temporary.c_str());
        }
        return failure;
    };

    if (const int failure = WriteAndFlush(file.Get(), content, progress); failure != 0) {
        return abandon(failure);
    }
    if (marked && !MarkForDeletion(file.Get(), false)) {
        return abandon(LastError());
    }
    if (RenameOver(file.Get(), target)) {
        return 0;
    }
    const DWORD renameError = ::GetLastError();
    if (renameError != ERROR_INVALID_PARAMETER && renameError != ERROR_CALL_NOT_IMPLEMENTED &&
        renameError != ERROR_NOT_SUPPORTED) {
        return abandon(ErrorNumberOf(renameError));
    }
    // A file system that cannot rename through a handle: by name.
    file.Close();
    if (!::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const int failure = LastError();
        ::DeleteFileW(temporary.c_str());
        return failure;
    }
    return 0;
}

}  // namespace save_file

std::string SystemErrorText(int errorNumber) {
    // The C library's texts on Linux, so that a reason reads the same on
    // either system.
    static constexpr struct {
        int errorNumber;
        const char* text;
    } Texts[] = {
        {EPERM, "Operation not permitted"},
        {ENOENT, "No such file or directory"},
        {EINTR, "Interrupted system call"},
        {EIO, "Input/output error"},
        {EBADF, "Bad file descriptor"},
        {EAGAIN, "Resource temporarily unavailable"},
        {ENOMEM, "Cannot allocate memory"},
        {EACCES, "Permission denied"},
        {EBUSY, "Device or resource busy"},
        {EEXIST, "File exists"},
        {EXDEV, "Invalid cross-device link"},
        {ENOTDIR, "Not a directory"},
        {EISDIR, "Is a directory"},
        {EINVAL, "Invalid argument"},
        {EMFILE, "Too many open files"},
        {EFBIG, "File too large"},
        {ENOSPC, "No space left on device"},
        {EROFS, "Read-only file system"},
        {ENAMETOOLONG, "File name too long"},
        {ELOOP, "Too many levels of symbolic links"},
        {EILSEQ, "Invalid or incomplete multibyte or wide character"},
    };
    for (const auto& entry : Texts) {
        if (entry.errorNumber == errorNumber) {
            return entry.text;
        }
    }
    if (errorNumber >= WindowsErrorBase && errorNumber < WindowsErrorBase + 0x10000) {
        const auto code = static_cast<DWORD>(errorNumber - WindowsErrorBase);
        wchar_t* text = nullptr;
        const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
            MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        if (length > 0 && text != nullptr) {
            std::wstring message(text, length);
            ::LocalFree(text);
            // Without the line end and the full stop: the reason goes inside a sentence.
            while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                         message.back() == L' ' || message.back() == L'.')) {
                message.pop_back();
            }
            return Narrow(message);
        }
        return "Windows error " + std::to_string(code);
    }
    return "Unknown error " + std::to_string(errorNumber);
}

void InstallSaveCleanup() noexcept {
    // Nothing to install: the system deletes an unfinished temporary when
    // its handle closes, however the program ends.
}

}  // namespace velmora
