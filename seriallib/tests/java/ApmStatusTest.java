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

        group("the worked lines pack into their words", () -> {
            String[][] cases = {
                {"1.16 1.2 0x03 0x01 0x03 0x09 85% 180 min\n", "67797"},
                {"1.16 1.2 0x03 0x01 0x00 0x01 100% -1 ?\n", "65764"},
                {"1.16 1.2 0x03 0x00 0x01 0x02 20% 25 min\n", "404"},
                {"1.16 1.2 0x03 0x00 0xff 0xff -1% -1 ?\n", "65407"},
                {"1.16 1.2 0x03 0xff 0xff 0xff -1% -1 ?\n", "16777087"},
                {"1.16 1.2 0x03 0x01 0x04 0x80 -1% -1 ?\n", String.valueOf(0x1FF7F)},
            };
            for (String[] c : cases) {
                apm(c[0]);
                equal(Integer.parseInt(c[1]), SerialPortLocal.SerGetStatusAPM(), c[0].trim());
            }
        });

        group("a missing /proc/apm or a line without its seven fields raises the exception", () -> {
            KernelFake.redirect("/proc/apm", null);
            Native.Outcome missing = Native.method("SerGetStatusAPM");
            equal(-1, missing.result(), "result without /proc/apm");
            equal(FAILED, missing.message(), "exception without /proc/apm");
            String[] malformed = {
                "", "1.16 1.2 0x03 0x01\n", "1.16 1.2 0x03 0x01 0x03 0x09\n",
                "x".repeat(200) + " 1.2 0x03 0x01 0x03 0x09 85% 1 min\n",
                "1.16 1.2 0x03 0x01 charging 0x09 85% 1 min\n", "\u0001\u00ff\n\n%%%%\n",
            };
            for (String line : malformed) {
                apm(line);
                Native.Outcome outcome = Native.method("SerGetStatusAPM");
                equal(-1, outcome.result(), "result for '" + line + "'");
                equal(FAILED, outcome.message(), "exception for '" + line + "'");
            }
        });

        group("a good status leaves no exception behind", () -> {
            apm("1.16 1.2 0x03 0x01 0x03 0x09 85% 180 min\n");
            Native.Outcome outcome = Native.method("SerGetStatusAPM");
            equal(0x108D5, outcome.result(), "status");
            equal(null, outcome.thrown(), "pending exception");
        });
        Check.finish();
    }
}
