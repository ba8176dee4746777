package testkit;

import java.io.ByteArrayOutputStream;
import java.util.ArrayList;
import java.util.List;

/** Runs a main class in a fresh JVM of the same kind, for checks that need a new process. */
public final class Jvm {
    private Jvm() {}

    public record Result(int exitCode, String stdout) {}

    public static Result run(String classPath, String mainClass, String... args) throws Exception {
        List<String> command = new ArrayList<>();
        command.add(System.getProperty("java.home") + "/bin/java");
        command.add("-Xcheck:jni");
        command.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        command.add("-cp");
        command.add(classPath);
        command.add(mainClass);
        command.addAll(List.of(args));
        Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        process.getInputStream().transferTo(out);
        return new Result(process.waitFor(), out.toString());
    }
}
