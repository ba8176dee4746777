#include "Messages.h"

namespace velmoor {

std::wstring noJarFoundMessage(std::wstring_view applicationDirectory) {
    std::wstring text = L"Error: No Java Application File (JAR File) Found in Directory\r\n";
    text += applicationDirectory;
    return text;
}

std::wstring noJavaFoundMessage(const std::array<std::wstring, 3>& candidates) {
    std::wstring text = L"Error: No Java Executable File Found at:";
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        text += i == 0 ? L"\r\n" : L"\r\nor\r\n";
        text += candidates[i];
    }
    return text;
}

std::wstring launchFailedMessage(std::wstring_view commandLine) {
    std::wstring text = L"Error launching application: ";
    text += commandLine;
    return text;
}

std::wstring unexpectedFailureMessage(std::wstring_view description, std::wstring_view subject) {
    std::wstring text(subject);
    if (!text.empty()) text += L"\r\n";
    text += description;
    return text;
}

std::wstring updatePrompt() {
    std::wstring text(kUpdateAvailable);
    text += L"\r\n";
    text += kInstallNow;
    return text;
}

std::wstring updateFailedMessage(std::wstring_view failureDescription) {
    std::wstring text = L"An error occured trying to update the application\r\n";
    text += failureDescription;
    return text;
}

std::wstring notFromPublisherText(const std::vector<std::wstring>& signers,
                                  std::wstring_view entry) {
    std::wstring text(kNotFromPublisher);
    text += signers.size() > 1 ? L"\r\nSigners found: " : L"\r\nSigner found: ";
    if (signers.empty()) text += L"none";
    for (std::size_t i = 0; i < signers.size(); ++i) text += (i ? L"; " : L"") + signers[i];
    if (!entry.empty()) {
        text += L"\r\nUnsigned or changed entry: ";
        text += entry;
    }
    return text;
}

}  // namespace velmoor
