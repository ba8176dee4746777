import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;

import Quorvia.SerialPortLocal;
import java.nio.file.Files;
import java.nio.file.Path;
import testkit.Check;
import testkit.KernelFake;
import testkit.Native;

/** The APM status word, from /proc/apm lines that the preloaded fake puts in place. */
public class ApmStatusTest {
    static final String FAILED = "java.io.IOException: Failed to get APM status";

    static Path dir;

    static void apm(String text) throws Exception {
        Path file = Files.writeString(dir.resolve("apm"), text);
        KernelFake.redirect("/proc/apm", file.toString());
    }

    public static void main(String[] args) throws Exception {
        isTrue(KernelFake.preloaded(), "libKernelFake must be preloaded");
        dir = Files.createTempDirectory("pellusk-apm");

        // The parsing itself is covered line by line in the unit tests; here the real file read.
        group("the line of /proc/apm comes back packed, with no exception pending", () -> {
            apm("1.16 1.2 0x03 0x01 0x03 0x09 85% 180 min\n");
            Native.Outcome outcome = Native.method("SerGetStatusAPM");
            equal(0x108D5, outcome.result(), "status");
            equal(null, outcome.thrown(), "pending exception");
            apm("1.16 1.2 0x03 0xff 0x04 0xff -1% -1 ?\n");
            equal(0xFFFF7F, SerialPortLocal.SerGetStatusAPM(), "nothing known, no battery");
        });

        group("a missing /proc/apm or a line without its seven fields raises the exception", () -> {
            KernelFake.redirect("/proc/apm", null);
            Native.Outcome missing = Native.method("SerGetStatusAPM");
            equal(-1, missing.result(), "result without /proc/apm");
            equal(FAILED, missing.message(), "exception without /proc/apm");
            String[] malformed = {"", "1.16 1.2 0x03 0x01 0x03 0x09\n", "x".repeat(600) + " 1.2 0x03 0x01 0x03 0x09 85%\n"};
            for (String line : malformed) {
                apm(line);
                Native.Outcome outcome = Native.method("SerGetStatusAPM");
                equal(-1, outcome.result(), "result for '" + line + "'");
                equal(FAILED, outcome.message(), "exception for '" + line + "'");
            }
        });
        Check.finish();
    }
}
