#pragma once

#include <memory>
#include <string>

#include "core/Services.h"

namespace velmoor {

// Starts a program hidden and unwaited, with its standard error going to a pipe that a thread of
// the launcher's drains for as long as the launcher runs. Standard input and output are the null
// device: the program's console, of its own and hidden, would show nobody what it writes. It
// inherits those three handles and no other: an inherited handle on the install claim would hold
// the install for as long as the application runs, and an inherited reading end of its own pipe
// would block its writes once the launcher has gone. Once the launcher has ended, a write to the
// pipe fails at once, as java's System.err takes it without complaint. A start that fails throws
// PlatformError with the system's reason.
std::unique_ptr<StartedProcess> startHiddenProcess(const std::wstring& program,
                                                   const std::wstring& commandLine);

}  // namespace velmoor
