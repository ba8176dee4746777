#include <windows.h>

#include "DllSearch.h"
#include "LaunchForm.h"
#include "Win32Services.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    velmoor::restrictDllSearchToSystem32();
    velmoor::Win32Services services;
    velmoor::LaunchForm launchForm(instance, services);
    if (!launchForm.show()) return 1;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (launchForm.preTranslateMessage(message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
