import Quorvia.SerialPortLocal;
import java.io.File;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;

/**
 * Run with no -Djava.library.path: proves that the JVM's own default path holds the folder the
 * package installs into, that System.loadLibrary("Pellusk") loads the library from exactly there,
 * and that the library answers.
 *
 * Argument: the folder the library is expected in, e.g. /usr/lib/x86_64-linux-gnu/jni.
 */
public class InstalledLibraryProbe {
    public static void main(String[] args) throws Exception {
        String folder = args[0];
        String libraryPath = System.getProperty("java.library.path");
        System.out.println("java.library.path = " + libraryPath);
        List<String> entries = Arrays.asList(libraryPath.split(File.pathSeparator));
        if (!entries.contains(folder)) fail(folder + " is not on the JVM's default library path");

        int version = SerialPortLocal.SerGetLibVer();
        System.out.printf("SerGetLibVer() = %d (%d.%d)%n", version, version >> 16, version & 0xFFFF);
        if (version != 262151) fail("unexpected library version " + version);

        // The file the dynamic linker really mapped, with every link resolved.
        String expected = folder + "/libPellusk.so.4.7.0";
        List<String> mapped = Files.readAllLines(Path.of("/proc/self/maps")).stream()
                .filter(line -> line.contains("libPellusk"))
                .map(line -> line.substring(line.indexOf('/')))
                .distinct().toList();
        System.out.println("mapped: " + mapped);
        if (!mapped.equals(List.of(expected))) fail("the library was not loaded from " + expected);
        System.out.println("OK");
    }

    static void fail(String why) {
        System.out.println("FAILED: " + why);
        System.exit(1);
    }
}
