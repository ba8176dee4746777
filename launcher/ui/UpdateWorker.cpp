#include "UpdateWorker.h"

#include <windows.h>

#include "Win32Services.h"

namespace velmoor {

namespace {

DWORD WINAPI work(void* parameter) {
    const std::unique_ptr<std::shared_ptr<UpdateCheckRun>> run(
        static_cast<std::shared_ptr<UpdateCheckRun>*>(parameter));
    Win32Services services;
    (*run)->run(services);
    return 0;
}

}  // namespace

bool startUpdateWorker(std::shared_ptr<UpdateCheckRun> run) {
    auto parameter = std::make_unique<std::shared_ptr<UpdateCheckRun>>(std::move(run));
    const HANDLE thread = ::CreateThread(nullptr, 0, work, parameter.get(), 0, nullptr);
    if (!thread) return false;
    parameter.release();
    ::CloseHandle(thread);
    return true;
}

}  // namespace velmoor
