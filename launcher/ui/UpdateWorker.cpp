#include "UpdateWorker.h"

#include <windows.h>

#include <memory>

#include "Win32Services.h"

namespace velmoor {

namespace {

DWORD WINAPI work(void* parameter) {
    const std::unique_ptr<std::function<void(Services&)>> job(
        static_cast<std::function<void(Services&)>*>(parameter));
    Win32Services services;
    (*job)(services);
    return 0;
}

}  // namespace

bool startWorker(std::function<void(Services&)> job) {
    auto parameter = std::make_unique<std::function<void(Services&)>>(std::move(job));
    const HANDLE thread = ::CreateThread(nullptr, 0, work, parameter.get(), 0, nullptr);
    if (!thread) return false;
    parameter.release();
    ::CloseHandle(thread);
    return true;
}

}  // namespace velmoor
