#include "HiddenStart.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "Thread.h"
#include "Win32Error.h"
#include "WinHandles.h"

namespace velmoor {

namespace {

// java's reasons for not starting are a few lines, written first when java itself fails and
// last when the application logged before it failed: the last bytes are kept, in a ring.
constexpr std::size_t kKeptBytes = 16384;
constexpr DWORD kPipeBytes = 65536;
// The pipe ends with the process, unless a process that it started holds it on: its exit is
// taken as final once the output has ended, or this long after the exit.
constexpr ULONGLONG kOutputAfterExitMs = 500;

// What the draining thread has read, under a lock, and whether the pipe has ended.
struct ErrorOutput {
    explicit ErrorOutput(KernelHandle readEnd) : pipe(std::move(readEnd)) {}
    KernelHandle pipe;
    SRWLOCK lock = SRWLOCK_INIT;
    char ring[kKeptBytes];
    std::uint64_t length = 0;  // all bytes read; the ring holds the last of them
    std::atomic<bool> ended{false};

    void keep(const char* bytes, DWORD count) {
        ::AcquireSRWLockExclusive(&lock);
        for (DWORD i = 0; i < count; ++i) ring[length++ % kKeptBytes] = bytes[i];
        ::ReleaseSRWLockExclusive(&lock);
    }

    // Output that lost its start begins at its first whole line: half a line tells nothing.
    std::string text() {
        ::AcquireSRWLockExclusive(&lock);
        const std::size_t at = length > kKeptBytes ? length % kKeptBytes : 0;
        std::string all(ring + at, (length > kKeptBytes ? kKeptBytes : length) - at);
        all.append(ring, at);
        if (at != 0 || length > kKeptBytes) all.erase(0, all.find('\n'));
        ::ReleaseSRWLockExclusive(&lock);
        return all;
    }
};

void drain(ErrorOutput& output) {
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(output.pipe.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        output.keep(buffer, read);
    }
    output.ended.store(true, std::memory_order_release);
}

class HiddenProcess final : public StartedProcess {
  public:
    HiddenProcess(KernelHandle process, std::shared_ptr<ErrorOutput> output)
        : process_(std::move(process)), output_(std::move(output)) {}

    std::optional<std::uint32_t> exitCode() override {
        if (::WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) return std::nullopt;
        const ULONGLONG now = ::GetTickCount64();
        if (!exitedAt_) exitedAt_ = now;
        if (output_ && !output_->ended.load(std::memory_order_acquire) &&
            now - exitedAt_ < kOutputAfterExitMs)
            return std::nullopt;
        DWORD code = 0;
        if (!::GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
        return code;
    }

    // In the ANSI code page, as java writes its messages to a pipe.
    std::wstring errorOutput() override {
        if (!output_) return {};
        const std::string bytes = output_->text();
        const int length = static_cast<int>(bytes.size());
        std::wstring text(bytes.size(), L'\0');
        text.resize(static_cast<std::size_t>(
            ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, text.data(), length)));
        return text;
    }

  private:
    KernelHandle process_;
    std::shared_ptr<ErrorOutput> output_;
    ULONGLONG exitedAt_ = 0;
};

// The list of the handles a child inherits, where the system takes one.
class InheritedHandles {
  public:
    explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (size == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
        list_ = list;
        if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                         handles_.data(), handles_.size() * sizeof(HANDLE), nullptr,
                                         nullptr)) {
            ::DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
        }
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;
    ~InheritedHandles() {
        if (list_) ::DeleteProcThreadAttributeList(list_);
    }
    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

  private:
    std::vector<HANDLE> handles_;
    std::vector<unsigned char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// The thread holds the output it fills, and ends with the pipe.
bool startDrain(const std::shared_ptr<ErrorOutput>& output) {
    Thread drainer = Thread::start([output] { drain(*output); });
    if (!drainer) return false;
    drainer.detach();
    return true;
}

}  // namespace

std::unique_ptr<StartedProcess> startHiddenProcess(const std::wstring& program,
                                                   const std::wstring& commandLine) {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    // Only these two are ever inheritable, and only the child gets them.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    const bool piped = ::CreatePipe(&readEnd, &writeEnd, nullptr, kPipeBytes);
    KernelHandle reading(piped ? readEnd : nullptr), writing(piped ? writeEnd : nullptr);
    const HANDLE nul =
        ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inheritable, OPEN_EXISTING, 0, nullptr);
    const KernelHandle nothing(nul == INVALID_HANDLE_VALUE ? nullptr : nul);
    // Without them java starts as it would have without the watch, its output unread.
    const bool handles =
        piped && nothing &&
        ::SetHandleInformation(writing.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    const InheritedHandles inherited(handles ? std::vector{nothing.get(), writing.get()}
                                             : std::vector<HANDLE>{});
    DWORD flags = 0;
    if (handles) {
        startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = nothing.get();
        startup.StartupInfo.hStdOutput = nothing.get();
        startup.StartupInfo.hStdError = writing.get();
        if (inherited.list()) {
            startup.lpAttributeList = inherited.list();
            flags |= EXTENDED_STARTUPINFO_PRESENT;
        }
    }
    PROCESS_INFORMATION process{};
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::wstring writableLine = commandLine;
    if (!::CreateProcessW(program.c_str(), writableLine.data(), nullptr, nullptr, handles, flags,
                          nullptr, nullptr, &startup.StartupInfo, &process)) {
        throw lastError(program);
    }
    KernelHandle processHandle(process.hProcess);
    const KernelHandle threadHandle(process.hThread);
    if (process.dwProcessId == 0) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        throw lastError(program);
    }
    // The child's copy of the writing end is the only one left: the pipe ends with the child.
    writing.reset();
    std::shared_ptr<ErrorOutput> output;
    if (handles) {
        output = std::make_shared<ErrorOutput>(std::move(reading));
        if (!startDrain(output)) output.reset();
    }
    return std::make_unique<HiddenProcess>(std::move(processHandle), std::move(output));
}

}  // namespace velmoor
