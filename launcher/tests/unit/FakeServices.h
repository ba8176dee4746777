#pragma once

#include <cwctype>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/PlatformError.h"
#include "core/Services.h"

namespace velmoor::testing {

// An in-memory file system: folders list their entries in the order added, and a "*.ext"
// pattern also matches short names, as on Windows.
struct FakeServices : Services {
    struct File {
        DirEntry entry;
        std::wstring shortName;
    };
    std::wstring appDirectory = L"D:\\Apps\\Tarvio", currentDirectory;
    std::map<std::wstring, std::vector<File>> folders;
    std::map<std::wstring, std::wstring> contents;
    std::map<std::wstring, std::int64_t> times;
    std::vector<std::wstring> messages, questions, commandLines;
    std::optional<PlatformError> listingFailure, readFailure;
    bool startSucceeds = true, answerYes = true;

    DirEntry& add(const std::wstring& path, std::wstring shortName = L"") {
        const auto slash = path.rfind(L'\\');
        auto& files = folders[path.substr(0, slash)];
        return files.emplace_back(File{{path.substr(slash + 1)}, std::move(shortName)}).entry;
    }
    static bool matches(std::wstring mask, std::wstring name) {
        for (auto* text : {&mask, &name})
            for (auto& c : *text) c = static_cast<wchar_t>(std::towlower(c));
        if (mask[0] == L'*') return name.ends_with(mask.substr(1));
        return mask == name;
    }
    void listDirectory(const std::wstring& pattern,
                       const std::function<bool(const DirEntry&)>& visit) override {
        if (listingFailure) throw *listingFailure;
        const auto slash = pattern.rfind(L'\\');
        // "C:\\Tarvio.jar" lists the root folder, as it does on Windows.
        const auto folder = pattern.find_last_not_of(L'\\', slash);
        for (const File& file : folders[pattern.substr(0, folder + 1)]) {
            const std::wstring mask = pattern.substr(slash + 1);
            if ((matches(mask, file.entry.name) ||
                 (!file.shortName.empty() && matches(mask, file.shortName))) &&
                !visit(file.entry)) {
                return;
            }
        }
    }
    std::wstring applicationDirectory() override { return appDirectory; }
    void setCurrentDirectory(const std::wstring& directory) override {
        currentDirectory = directory;
    }
    void showMessage(const std::wstring& text) override { messages.push_back(text); }
    bool askYesNo(const std::wstring& text) override {
        questions.push_back(text);
        return answerYes;
    }
    bool startHidden(const std::wstring& program, const std::wstring& commandLine) override {
        commandLines.push_back(program + L" | " + commandLine);
        return startSucceeds;
    }
    std::optional<std::int64_t> lastModified(const std::wstring& path) override {
        return times.count(path) ? std::optional(times[path]) : std::nullopt;
    }
    std::wstring readTextFile(const std::wstring& path) override {
        if (readFailure) throw *readFailure;
        return contents.at(path);
    }
    void copyFile(const std::wstring&, const std::wstring&) override {}
    void moveReplacing(const std::wstring&, const std::wstring&) override {}
    void removeFile(const std::wstring&) noexcept override {}
};

}  // namespace velmoor::testing
