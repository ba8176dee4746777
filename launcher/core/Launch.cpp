#include "Launch.h"

#include "FileLookup.h"
#include "Messages.h"
#include "PlatformError.h"

namespace velmoor {

std::array<std::wstring, 3> javaCandidates(std::wstring_view applicationDirectory) {
    return {std::wstring(applicationDirectory) + L"\\jre\\bin\\java.exe",
            L"C:\\Program Files\\Ostrel RFID\\Tarvio\\jre\\bin\\java.exe",
            L"C:\\Program Files\\Ostrel RFID Tarvio\\jre\\bin\\java.exe"};
}

std::wstring applicationCommandLine(std::wstring_view javaPath,
                                    std::wstring_view applicationDirectory,
                                    std::wstring_view jarName) {
    std::wstring line = L"\"";
    line += javaPath;
    line += L"\" -jar \"";
    line += applicationDirectory;
    line += L'/';
    line += jarName;
    line += L'"';
    return line;
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

LaunchResult loadApplication(Services& services) {
    try {
        const std::wstring directory = services.applicationDirectory();
        services.setCurrentDirectory(directory);
        const std::wstring jarName = findJarFile(services);
        if (jarName.empty()) return LaunchResult::failed;
        const std::wstring javaPath = findJavaExecutable(services);
        if (javaPath.empty()) return LaunchResult::failed;
        const std::wstring commandLine = applicationCommandLine(javaPath, directory, jarName);
        if (services.startHidden(javaPath, commandLine)) return LaunchResult::started;
        services.showMessage(launchFailedMessage(commandLine));
        return LaunchResult::failed;
    } catch (const PlatformError& error) {
        services.showMessage(unexpectedFailureMessage(error.description(), error.subject()));
        return LaunchResult::failed;
    }
}

}  // namespace velmoor
