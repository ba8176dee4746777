#include <windows.h>

#include "DllSearch.h"
#include "InstallClaim.h"
#include "LaunchForm.h"
#include "Win32Services.h"
#include "core/PlatformError.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    velmoor::restrictDllSearchToSystem32();
    velmoor::Win32Services services;
    std::wstring applicationDirectory;
    try {
        applicationDirectory = services.applicationDirectory();
    } catch (const velmoor::PlatformError&) {
        // Unclaimed: the first tick reports what fails with the folder.
    }
    const velmoor::InstallClaim claim(applicationDirectory);
    if (!claim.held() && claim.bringHolderToFront()) return 0;
    velmoor::LaunchForm launchForm(instance, services, claim.held());
    if (!launchForm.show()) return 1;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (launchForm.preTranslateMessage(message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
