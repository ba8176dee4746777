import Quorvia.SerialPortLocal;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import java.util.regex.Pattern;

/**
 * Run with no -Djava.library.path: the JVM's own default path must hold the folder the package
 * installs into (args[0], e.g. /usr/lib/x86_64-linux-gnu/jni), System.loadLibrary("Pellusk") must
 * map the library from exactly there, and the library must answer.
 */
public class InstalledLibraryProbe {
    public static void main(String[] args) throws Exception {
        String folder = args[0], libraryPath = System.getProperty("java.library.path");
        if (!Arrays.asList(libraryPath.split(":")).contains(folder)) fail(folder + " is not on " + libraryPath);
        if (SerialPortLocal.SerGetLibVer() != 0x40007) fail("unexpected library version");
        // The file the dynamic linker really mapped, with every link resolved.
        List<String> mapped = Files.readAllLines(Path.of("/proc/self/maps")).stream()
                .filter(line -> line.contains("libPellusk"))
                .map(line -> line.substring(line.indexOf('/')))
                .distinct().toList();
        if (mapped.size() != 1 || !mapped.get(0).matches(Pattern.quote(folder) + "/libPellusk\\.so\\.4\\.\\d+\\.\\d+"))
            fail("mapped " + mapped);
        System.out.println("OK: " + mapped);
    }

    static void fail(String why) {
        System.out.println("FAILED: " + why);
        System.exit(1);
    }
}
