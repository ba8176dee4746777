#pragma once

#include <array>
#include <string>
#include <string_view>

namespace velmoor {

// The caption of every message box: none of them passes a title of its own.
inline constexpr std::wstring_view kApplicationTitle = L"Ostrel Tarvio Launcher";

std::wstring noJarFoundMessage(std::wstring_view applicationDirectory);
std::wstring noJavaFoundMessage(const std::array<std::wstring, 3>& candidates);
std::wstring launchFailedMessage(std::wstring_view commandLine);

inline constexpr std::wstring_view kUpdateAvailable =
    L"An update is available for this application";
inline constexpr std::wstring_view kInstallNow = L"Do you want to install this update now ?";
inline constexpr std::wstring_view kLookBelow = L"Look below for the changes/enhancements:";
inline constexpr std::wstring_view kApplicationUpdated = L"Application Updated !";

// A failure that no message of the launcher's own covers: the file or folder it concerns, if
// known, over the system's text for it.
std::wstring unexpectedFailureMessage(std::wstring_view description, std::wstring_view subject);

std::wstring updatePrompt();
std::wstring updateFailedMessage(std::wstring_view failureDescription);

}  // namespace velmoor
