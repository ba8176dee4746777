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

}  // namespace velmoor
