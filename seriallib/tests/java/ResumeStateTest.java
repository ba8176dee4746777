import static testkit.Check.equal;
import static testkit.Check.group;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import testkit.Check;
import testkit.Native;
import testkit.Pty;

/**
 * The resume flag. Its own JVM: the first group needs a process in which no port was opened yet,
 * so it must stay first. Signals go to the calling thread itself, which takes them before tgkill
 * returns, so nothing has to wait for them.
 */
public class ResumeStateTest {

    static void continueSignal() {
        equal(0, Pty.signalThread(Pty.threadId(), Pty.SIGCONT), "tgkill");
    }

    public static void main(String[] args) throws Exception {
        group("a continue signal before the first open is not recorded", () -> {
            continueSignal();
            equal(0, SerialPortLocal.SerGetResumeState(false), "flag");
        });

        try (Pty pty = new Pty()) {
            equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(pty.slavePath)), "open");
            equal(0, SerialPortLocal.SerClosePort(0), "close");

            group("after an open, signals set the flag until a clearing read takes it", () -> {
                continueSignal();
                continueSignal();
                continueSignal();
                equal(1, SerialPortLocal.SerGetResumeState(false), "first look");
                equal(1, SerialPortLocal.SerGetResumeState(false), "second look");
                equal(1, Native.method("SerGetResumeState", 2).result(), "a boolean byte of 2");
                equal(1, Native.method("SerGetResumeState", 0x100).result(), "a boolean byte of 0");
                equal(1, SerialPortLocal.SerGetResumeState(true), "clearing read");
                equal(0, SerialPortLocal.SerGetResumeState(true), "after the clearing read");
                continueSignal();
                equal(1, Native.method("SerGetResumeState", 0x101).result(), "a boolean byte of 1 clears");
                equal(0, SerialPortLocal.SerGetResumeState(false), "after it");
            });
        }
        Check.finish();
    }
}
