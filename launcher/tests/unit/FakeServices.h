#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/FileLookup.h"
#include "core/PlatformError.h"
#include "core/Services.h"

namespace velmoor::testing {

// An in-memory file system with the launcher's platform services. Folders list their entries
// in the order they were added, and wildcards match short names as well as long ones, as on
// Windows.
class FakeServices : public Services {
  public:
    struct File {
        DirEntry entry;
        std::wstring shortName;
    };

    std::wstring appDirectory = L"D:\\Apps\\Tarvio";
    std::wstring currentDirectory;
    std::vector<std::wstring> messages;
    std::vector<std::wstring> listedPatterns;
    struct Start {
        std::wstring program;
        std::wstring commandLine;
    };
    std::vector<Start> starts;
    bool startSucceeds = true;
    std::optional<PlatformError> listingFailure;
    std::wstring failingPattern;  // listings of patterns containing this fail

    // Adds a file by its full path; attributes as given.
    File& add(const std::wstring& path, std::wstring shortName = L"") {
        const auto slash = path.find_last_of(L'\\');
        auto& files = folders_[folderKey(path.substr(0, slash))];
        files.push_back({DirEntry{path.substr(slash + 1)}, std::move(shortName)});
        return files.back();
    }

    std::wstring applicationDirectory() override { return appDirectory; }
    void setCurrentDirectory(const std::wstring& directory) override {
        currentDirectory = directory;
    }

    void listDirectory(const std::wstring& pattern,
                       const std::function<bool(const DirEntry&)>& visit) override {
        listedPatterns.push_back(pattern);
        if (listingFailure) throw *listingFailure;
        if (!failingPattern.empty() && pattern.find(failingPattern) != std::wstring::npos) {
            throw PlatformError(64, L"The specified network name is no longer available.");
        }
        const auto slash = pattern.find_last_of(L'\\');
        const auto folder = folders_.find(folderKey(pattern.substr(0, slash)));
        if (folder == folders_.end()) return;
        const std::wstring mask = fold(pattern.substr(slash + 1));
        for (const File& file : folder->second) {
            const bool matches =
                wildcardMatch(mask, fold(file.entry.name)) ||
                (!file.shortName.empty() && wildcardMatch(mask, fold(file.shortName)));
            if (matches && !visit(file.entry)) return;
        }
    }

    void showMessage(const std::wstring& text) override { messages.push_back(text); }

    bool startHidden(const std::wstring& program, const std::wstring& commandLine) override {
        starts.push_back({program, commandLine});
        return startSucceeds;
    }

    // The update side: file contents and times by full path, and the failures to raise.
    std::map<std::wstring, std::wstring> contents;
    std::map<std::wstring, std::int64_t> times;
    bool answerYes = true;
    std::vector<std::wstring> questions;
    std::optional<PlatformError> readFailure;
    std::optional<PlatformError> moveFailure;

    bool askYesNo(const std::wstring& text) override {
        questions.push_back(text);
        return answerYes;
    }
    std::optional<std::int64_t> lastModified(const std::wstring& path) override {
        const auto time = times.find(path);
        if (time == times.end()) return std::nullopt;
        return time->second;
    }
    std::wstring readTextFile(const std::wstring& path) override {
        if (readFailure) throw *readFailure;
        return contents.at(path);
    }
    void copyFile(const std::wstring& source, const std::wstring& target) override {
        if (!contents.count(source))
            throw PlatformError(2, L"The system cannot find the file specified.");
        contents[target] = contents[source];
        if (times.count(source)) times[target] = times[source];
    }
    void moveReplacing(const std::wstring& source, const std::wstring& target) override {
        if (moveFailure) throw *moveFailure;
        contents[target] = contents.at(source);
        times[target] = times.at(source);
        contents.erase(source);
        times.erase(source);
    }
    void removeFile(const std::wstring& path) noexcept override {
        contents.erase(path);
        times.erase(path);
    }

  private:
    static std::wstring fold(std::wstring text) {
        for (auto& c : text) {
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
        }
        return text;
    }

    // "C:\\Tarvio.jar" lists the root folder, as it does on Windows.
    static std::wstring folderKey(std::wstring folder) {
        while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
        return fold(folder);
    }

    static bool wildcardMatch(std::wstring_view mask, std::wstring_view name) {
        if (mask.empty()) return name.empty();
        if (mask[0] == L'*') {
            for (std::size_t skip = 0; skip <= name.size(); ++skip) {
                if (wildcardMatch(mask.substr(1), name.substr(skip))) return true;
            }
            return false;
        }
        return !name.empty() && (mask[0] == L'?' || mask[0] == name[0]) &&
               wildcardMatch(mask.substr(1), name.substr(1));
    }

    std::map<std::wstring, std::vector<File>> folders_;
};

}  // namespace velmoor::testing
