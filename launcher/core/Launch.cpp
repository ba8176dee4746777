#include "Launch.h"

#include "AppDirectory.h"
#include "FileLookup.h"
#include "Messages.h"
#include "PlatformError.h"

namespace velmoor {

std::array<std::wstring, 3> javaCandidates(std::wstring_view applicationDirectory) {
    return {std::wstring(applicationDirectory) + L"\\jre\\bin\\java.exe",
            L"C:\\Program Files\\Ostrel RFID\\Tarvio\\jre\\bin\\java.exe",
            L"C:\\Program Files\\Ostrel RFID Tarvio\\jre\\bin\\java.exe"};
}

std::wstring applicationCommandLine(std::wstring_view javaPath, std::wstring_view jarArgument) {
    std::wstring line = L"\"";
    line += javaPath;
    line += L"\" -jar \"";
    line += jarArgument;
    line += L'"';
    return line;
}

std::wstring javaJarArgument(Services& services, std::wstring_view applicationDirectory,
                             std::wstring_view jarName) {
    std::wstring path = std::wstring(applicationDirectory) + L'/' + std::wstring(jarName);
    if (services.fitsJavaCommandLine(path)) return path;
    const std::optional<std::wstring> shortForm =
        services.shortPath(std::wstring(applicationDirectory) + L'\\' + std::wstring(jarName));
    if (shortForm && services.fitsJavaCommandLine(*shortForm)) return *shortForm;
    if (services.fitsJavaCommandLine(jarName)) return std::wstring(jarName);
    return {};
}

std::wstring javaProgramPath(Services& services, const std::wstring& javaPath) {
    if (services.fitsJavaCommandLine(javaPath)) return javaPath;
    const std::optional<std::wstring> shortForm = services.shortPath(javaPath);
    return shortForm && services.fitsJavaCommandLine(*shortForm) ? *shortForm : std::wstring();
}

std::wstring findJarFile(Services& services) {
    const std::wstring directory = services.applicationDirectory();
    services.setCurrentDirectory(directory);
    std::wstring name = existingFile(services, directory + L"\\Tarvio.jar");
    if (name.empty()) name = firstOrdinaryFile(services, directory + L"\\*.jar", hasJarExtension);
    if (name.empty()) services.showMessage(noJarFoundMessage(directory));
    return name;
}

std::wstring findJavaExecutable(Services& services) {
    const auto candidates = javaCandidates(services.applicationDirectory());
    for (const auto& candidate : candidates) {
        if (!existingFile(services, candidate).empty()) return candidate;
    }
    services.showMessage(noJavaFoundMessage(candidates));
    return {};
}

Launch loadApplication(Services& services) {
    try {
        const std::wstring directory = services.applicationDirectory();
        services.setCurrentDirectory(directory);
        const std::wstring jarName = findJarFile(services);
        if (jarName.empty()) return {};
        const std::wstring javaPath = findJavaExecutable(services);
        if (javaPath.empty()) return {};
        const std::wstring localJar = directory + L"\\" + jarName;
        const std::wstring jarArgument = javaJarArgument(services, directory, jarName);
        if (jarArgument.empty()) {
            services.showMessage(jarPathUnreadableMessage(localJar));
            return {};
        }
        const std::wstring javaProgram = javaProgramPath(services, javaPath);
        if (javaProgram.empty()) {
            services.showMessage(javaPathUnreadableMessage(applicationDirectoryOf(javaPath)));
            return {};
        }
        const std::wstring commandLine = applicationCommandLine(javaProgram, jarArgument);
        try {
            return {services.startHidden(javaProgram, commandLine), localJar};
        } catch (const PlatformError& error) {
            services.showMessage(launchFailedMessage(javaPath, error.description()));
            return {};
        }
    } catch (const PlatformError& error) {
        services.showMessage(unexpectedFailureMessage(error.description(), error.subject()));
        return {};
    }
}

}  // namespace velmoor
