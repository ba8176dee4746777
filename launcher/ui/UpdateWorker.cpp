#include "UpdateWorker.h"

#include "Thread.h"
#include "Win32Services.h"

namespace velmoor {

bool startWorker(std::function<void(Services&)> job) {
    Thread worker = Thread::start([job = std::move(job)] {
        Win32Services services;
        job(services);
    });
    if (!worker) return false;
    worker.detach();
    return true;
}

}  // namespace velmoor
