// Fuzz target: the library's native methods as Java calls them, in any order and with any
// arguments, through the JNI environment of fake_jni.h. Each input is a sequence of calls on
// real pseudo-terminals; after each call the result, the exception left pending and the port
// table must be ones the reference documents, as far as this model of the ports predicts them.
//
// Host side effects: the card calls make device nodes only when /proc/devices lists pcmcia;
// mknod is wrapped to refuse, so no node ever reaches the host's /dev, /tmp or /var/run. A
// private mount namespace would do that too, but would also hide /dev/ptmx and /dev/pts. Every
// name the fuzzer opens is a pty of its own, or lies in its own scratch folder (or, for an empty
// base name, is a bare number relative to the working folder, which holds no such file): a
// name from the input could otherwise open any device of the host.
//
// Receive timeouts are capped at 2 ms (negatives are any value), and the receive calls of one
// input may wait 6 ms in all; poll is wrapped to check that the library never waits longer.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "card_power.h"
#include "fake_jni.h"
#include "port_table.h"
#include "timeouts.h"

// The native methods that no header of the library declares.
// clang-format off
#define NATIVE(name, ...) \
    extern "C" jint Java_Quorvia_SerialPortLocal_##name(JNIEnv*, jobject __VA_OPT__(,) __VA_ARGS__)
#define SLOT_NATIVE(name) NATIVE(name, jint)
NATIVE(SerOpenPort, jobject);
NATIVE(SerConfigure, jobject);
NATIVE(SerSetTimeoutRx, jint, jint);
NATIVE(SerSetTimeoutTx, jint, jint);
NATIVE(SerPutByte, jint, jbyte);
NATIVE(SerPutData, jint, jbyteArray, jint);
NATIVE(SerGetData, jint, jbyteArray, jint);
NATIVE(SerSetDTR, jint, jboolean);
NATIVE(SerSetRTS, jint, jboolean);
NATIVE(SerSendBreak, jint, jint);
NATIVE(SerGetStatusAPM);
SLOT_NATIVE(SerClosePort); SLOT_NATIVE(SerGetTimeoutRx); SLOT_NATIVE(SerGetTimeoutTx);
SLOT_NATIVE(SerGetByte); SLOT_NATIVE(SerRxFlush); SLOT_NATIVE(SerTxFlush); SLOT_NATIVE(SerTxDrain);
SLOT_NATIVE(SerRxReadyCount); SLOT_NATIVE(SerTxBufCount); SLOT_NATIVE(SerSigCTS);
SLOT_NATIVE(SerSigDSR); SLOT_NATIVE(SerSigCD); SLOT_NATIVE(SerSigRing);
// clang-format on
#define CALL(name, frame, ...) \
    Java_Quorvia_SerialPortLocal_##name(frame.env, frame.self __VA_OPT__(, ) __VA_ARGS__)

using namespace fuzz;

namespace {

constexpr int kSlots = pellusk::kPortSlots;
constexpr int kMaxTimeoutMs = 2;
constexpr int kWaitBudgetMs = 6;
// Well below the 4 KiB a pty's input holds before a line with IXOFF would send XOFF of its own.
constexpr std::size_t kPeerBytesPerInput = 2048;
constexpr int kChunk = 8192;

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return size_ == 0; }
    std::uint8_t byte() { return size_ == 0 ? 0 : (--size_, *data_++); }
    jint int32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | byte();
        return static_cast<jint>(value);
    }
    // Bytes of a file name: never a slash, so a name stays inside its folder.
    std::string name(std::size_t length) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i) {
            const char c = static_cast<char>(byte());
            text += c == '/' ? '_' : c;
        }
        return text;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// What one side sent and the other has not read yet. Bytes may go missing on the way (a flush,
// XON and XOFF taken by a line with IXON), but never appear, change or change places.
class Stream {
  public:
    void add(const void* bytes, std::size_t length) {
        sent_.append(static_cast<const char*>(bytes), length);
    }
    void take(const void* bytes, std::size_t length, const char* method) {
        for (std::size_t i = 0; i < length; ++i) {
            const std::size_t at = sent_.find(static_cast<const char*>(bytes)[i], next_);
            if (at == std::string::npos) finding(method, "a byte arrived that was not sent");
            next_ = at + 1;
        }
    }
    void clear() { sent_.clear(), next_ = 0; }

  private:
    std::string sent_;
    std::size_t next_ = 0;
};

struct Pty {
    int master = -1;
    int slave = -1;  // ours, so the pty lives while the library has it closed
    std::string path;
    dev_t device = 0;
    Stream toPeer, fromPeer;
};

constexpr int kPtys = 2;
Pty ptys[kPtys];
std::string scratch;  // the scratch folder: file, dir, and tty<N> links to the ptys
int descriptorsAtStart = 0;
bool apmPresent = false;

// What a slot holds, as far as the model knows.
constexpr int kFree = -1, kFile = kPtys;  // 0..kPtys-1: that pty
struct Model {
    int held[kSlots];
    int rxTimeout[kSlots] = {};
    int txTimeout[kSlots] = {};
    bool resumed = false;
    int waitBudget = 0;
    std::size_t peerBudget = 0;
} model;

bool inTable(jint slot) {
    return slot >= 0 && slot < kSlots;
}
int heldBy(jint slot) {
    return inTable(slot) ? model.held[slot] : kFree;
}
bool isPty(int held) {
    return held >= 0 && held < kPtys;
}

int lowestFree() {
    for (int slot = 0; slot < kSlots; ++slot)
        if (model.held[slot] == kFree) return slot;
    return -1;
}

void makeRaw(int fd) {
    termios raw{};
    raw.c_cflag = CS8 | CREAD | CLOCAL;
    raw.c_cc[VMIN] = 1;
    cfsetspeed(&raw, B9600);
    tcsetattr(fd, TCSANOW, &raw);
}

// Descriptors on devices and in the scratch folder: what the library can leak. libFuzzer opens
// and closes files of its own meanwhile, so the whole table would not stay still.
int portDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        char target[256] = "";
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) < 0) continue;
        const std::string_view path(target);
        if (path.starts_with("/dev/") || path.starts_with(scratch)) ++count;
    }
    closedir(dir);
    return count;
}

// ---- argument decoding -------------------------------------------------------------------------

jint slotArgument(Input& in) {
    static constexpr jint kEdges[] = {-1, kSlots, INT_MIN, INT_MAX, kSlots - 1, 0, -kSlots};
    const std::uint8_t b = in.byte(), kind = b % 6;
    if (kind == 3) return kEdges[(b / 6) % std::size(kEdges)];
    if (kind == 4) return in.int32();
    if (kind == 5) return b / 6;
    std::vector<int> taken;
    for (int slot = 0; slot < kSlots; ++slot)
        if (model.held[slot] != kFree) taken.push_back(slot);
    return kind == 2 || taken.empty() ? lowestFree() : taken[(b / 6) % taken.size()];
}

// A port number: a slot's, or the edges beyond the table. INT_MAX wraps to INT_MIN on purpose.
jint portArgument(Input& in) {
    const jint slot = slotArgument(in);
    return slot == INT_MAX ? INT_MIN : slot + 1;
}

jint smallInt(Input& in) {
    const std::uint8_t b = in.byte();
    return b < 0xF0 ? b % 20 - 2 : in.int32();
}

std::string padded(std::string path, std::size_t length) {
    if (length > path.size()) path.insert(0, length - path.size(), '/');
    return path;
}

std::vector<jbyte> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

// getPortName: null; 0 or 1 byte, for an open by number (a zero byte makes the name empty); a
// pty, behind leading slashes up to any length or with bytes after a zero; any name in the
// scratch folder; its file; its folder.
void portName(Input& in, Getter& g) {
    const std::uint8_t b = in.byte(), length = in.byte(), kind = b % 7;
    const std::string& pty = ptys[b / 7 % kPtys].path;
    g.nullArray = kind == 0;
    g.bytes = bytesOf(kind == 1   ? std::string(length % 3 == 2, '\0') + in.name(length % 3 != 0)
                      : kind == 2 ? padded(pty, length)
                      : kind == 3 ? pty + '\0' + in.name(length % 8)
                      : kind == 4 ? scratch + "/" + in.name(length % 24)
                      : kind == 5 ? padded(scratch + "/file", length)
                                  : padded(scratch + "/dir", length));
}

// getBaseName: null; the links to the ptys, padded or with bytes after a zero; empty, which
// leaves the bare number; a name that is not there; any name in the scratch folder.
void baseName(Input& in, Getter& g) {
    const std::uint8_t b = in.byte(), length = in.byte(), kind = b % 6;
    g.nullArray = kind == 0;
    g.bytes = bytesOf(kind == 1   ? padded(scratch + "/tty", length)
                      : kind == 2 ? scratch + "/tty" + '\0' + in.name(length % 8)
                      : kind == 3 ? ""
                      : kind == 4 ? padded(scratch + "/none", length)
                                  : scratch + "/" + in.name(length % 24));
}

Faults faultsArgument(Input& in) {
    Faults faults;
    faults.ioExceptionMissing = (in.byte() & 0x0F) == 0x0F;
    return faults;
}

// A SerialConfig call: the object, or null, and what may break in it.
struct ConfigCall {
    Faults faults;
    bool present = true;
    Config config;
};

void configArgument(Input& in, ConfigCall& call) {
    const std::uint8_t flags = in.byte();
    call.present = flags != 0xFF;
    if (flags < 0x80 || flags == 0xFF) return;
    const std::uint8_t fault = in.byte();
    call.faults.configClassMissing = (fault & 3) == 1;
    call.faults.ioExceptionMissing = (fault & 3) == 2;
    const int method = (fault >> 2) % 16;
    if (method < kMethodCount)
        call.config.methods[method].kind = fault & 0x80 ? Getter::kThrows : Getter::kMissing;
}

// A Java array, or false for null: any length, 0 and the transfer chunk's edges included.
bool arrayArgument(Input& in, std::vector<jbyte>& bytes) {
    const std::uint8_t kind = in.byte() % 4;
    if (kind == 0) return false;
    const std::size_t low = in.byte(), high = kind == 3 ? in.byte() : 0;
    const std::size_t length = kind == 1   ? low
                               : kind == 2 ? kChunk - 2 + low % 6
                                           : (high << 8 | low) % 20000;
    const std::uint8_t seed = in.byte();
    bytes.resize(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<jbyte>(seed + 7 * i);
    return true;
}

jint countArgument(Input& in, jint length) {
    const std::uint8_t kind = in.byte() % 5;
    if (kind < 3) return length - (kind == 1) + (kind == 2);
    return kind == 3 ? in.int32() : in.byte();
}

jint timeoutArgument(Input& in) {
    const std::uint8_t b = in.byte();
    if (b % 4 == 3) return -1 - (in.int32() & INT_MAX);  // any negative
    return b % 4 == 2 ? 0 : b % (kMaxTimeoutMs + 1);
}

// ---- expected results --------------------------------------------------------------------------

struct Expect {
    Expect(jint result = 0, const char* exception = nullptr, const char* message = nullptr)
        : result(result), exception(exception), message(message) {}
    jint result;
    jint alternative = INT_MIN;   // a second result as good as the first
    const char* exception;        // class of the exception left pending
    const char* message;          // its message, when the library throws it
    int slot = -1, held = kFree;  // the slot the call takes, and what it holds then
    jint reported = 0;            // the port number setPortNum receives
    std::vector<Method> calls;    // the SerialConfig methods called, in order
};

void check(const char* method, jint result, const Pending& pending, const Expect& e) {
    if (result != e.result && result != e.alternative)
        finding(method, "returned " + std::to_string(result) + ", not " + std::to_string(e.result));
    if (pending.any != (e.exception != nullptr) ||
        (pending.any && (pending.className != e.exception ||
                         (e.message != nullptr && pending.message != e.message)))) {
        finding(method, "left pending '" + pending.className + ": " + pending.message + "'");
    }
}

void checkRange(const char* method, jint result, jint low, jint high, const Pending& pending) {
    if (result < low || result > high) finding(method, "result " + std::to_string(result));
    if (pending.any) finding(method, "threw " + pending.className);
}

// The IOException a call throws, or the NoClassDefFoundError when IOException cannot be found.
Expect throws(jint result, const Faults& faults, const char* message) {
    Expect e{result, faults.ioExceptionMissing ? kNoClassDef : kIOException, message};
    if (faults.ioExceptionMissing) e.message = nullptr;
    return e;
}

struct OpenOutcome {
    jint code;
    int held;
};

// What open() and the setup make of a path, read from the file system before the call.
OpenOutcome openOutcome(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return {1008, kFree};
        finding("fuzz target", "cannot predict an open of " + path);
    }
    if (S_ISDIR(st.st_mode)) return {EISDIR, kFree};
    if (S_ISREG(st.st_mode)) return {5003, kFile};  // not a terminal: the setting is refused
    for (int k = 0; k < kPtys; ++k)
        if (S_ISCHR(st.st_mode) && st.st_rdev == ptys[k].device) return {0, k};
    finding("fuzz target", "opens a device of the host: " + path);
}

std::string cString(const std::vector<jbyte>& bytes) {
    return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
}

// Calls the method the way the library does: the exception class when it fails, else null.
const char* callMade(Expect& e, const Config& config, Method method) {
    const Getter::Kind kind = config.methods[method].kind;
    if (kind != Getter::kMissing) e.calls.push_back(method);
    if (kind == Getter::kMissing) return kNoSuchMethod;
    return kind == Getter::kThrows ? kThrownByGetter : nullptr;
}

Expect expectOpen(const ConfigCall& call) {
    const Config& c = call.config;
    Expect e;
    e.result = 5000;
    if (call.faults.configClassMissing) e.exception = kNoClassDef;
    if (call.faults.configClassMissing || !call.present) return e;
    if (call.faults.ioExceptionMissing) e.exception = kNoClassDef;
    if (e.exception || (e.exception = callMade(e, c, kGetPortName))) return e;
    const Getter& name = c.methods[kGetPortName];
    const auto refused = [&](jint code) {
        Expect outcome =
            code == 5001 ? throws(5001, call.faults, "Port device name not valid") : Expect{code};
        outcome.calls = e.calls;
        return outcome;
    };
    if (name.nullArray || name.bytes.size() >= 64) return refused(5001);
    int slot;
    std::string path;
    if (name.bytes.size() >= 2) {
        slot = lowestFree();
        if (slot < 0) return refused(1005);
        path = cString(name.bytes);
    } else {
        if ((e.exception = callMade(e, c, kGetPort))) return e;
        const jint port = c.methods[kGetPort].value;
        if (port < 1 || port > kSlots) return refused(1003);
        slot = port - 1;
        if (model.held[slot] != kFree) return refused(1000);
        if ((e.exception = callMade(e, c, kGetBaseName))) return e;
        const Getter& base = c.methods[kGetBaseName];
        if (base.nullArray || base.bytes.size() >= 64) return refused(5001);
        path = cString(base.bytes) + std::to_string(slot);
        if (path.size() >= 64) return refused(5001);
    }
    const OpenOutcome outcome = openOutcome(path);
    e.result = outcome.code;
    e.exception = nullptr;
    if (outcome.held != kFree) e.slot = slot, e.held = outcome.held;
    if (outcome.code == 0 && name.bytes.size() >= 2) {
        e.exception = callMade(e, c, kSetPortNum);
        if (e.exception == nullptr) e.reported = slot + 1;
    }
    return e;
}

Expect expectConfigure(const ConfigCall& call) {
    const Config& c = call.config;
    Expect e;
    e.result = 5000;
    if (call.faults.configClassMissing) {
        e.exception = kNoClassDef;
        return e;
    }
    if (!call.present) return e;
    for (Method m : {kGetPort, kGetBitRate, kGetParity, kGetDataBits, kGetStopBits, kGetHandshake})
        if ((e.exception = callMade(e, c, m))) return e;
    const auto value = [&](Method m) { return c.methods[m].value; };
    const jint port = value(kGetPort);
    if (value(kGetBitRate) < 0 || value(kGetBitRate) > 12)
        e.result = 5001;
    else if (value(kGetDataBits) < 0 || value(kGetDataBits) > 3)
        e.result = 5003;
    else if (value(kGetStopBits) < 0 || value(kGetStopBits) > 1)
        e.result = 5003;
    else
        e.result = isPty(heldBy(port >= 1 ? port - 1 : -1)) ? 0 : 5003;
    // A pty keeps no parity bit and only 8 data bits; the C library reads the record back and
    // reports EINVAL when the driver dropped them, depending on what the line held before.
    const jint parity = value(kGetParity);
    if (e.result == 0 && (value(kGetDataBits) != 3 || (parity >= 1 && parity <= 4)))
        e.alternative = 5003;
    return e;
}

// ---- the calls ---------------------------------------------------------------------------------

void callOpen(Input& in) {
    ConfigCall call;
    configArgument(in, call);
    portName(in, call.config.methods[kGetPortName]);
    call.config.methods[kGetPort].value = portArgument(in);
    baseName(in, call.config.methods[kGetBaseName]);
    const Expect e = expectOpen(call);
    Frame frame(call.faults, &call.config);
    const jint result = CALL(SerOpenPort, frame, call.present ? frame.config() : nullptr);
    check("SerOpenPort", result, frame.finish(), e);
    if (call.config.calls != e.calls) finding("SerOpenPort", "SerialConfig methods called");
    if (call.config.reportedPort != e.reported) finding("SerOpenPort", "port number reported");
    if (e.slot >= 0) model.held[e.slot] = e.held;
}

void callConfigure(Input& in) {
    ConfigCall call;
    configArgument(in, call);
    call.config.methods[kGetPort].value = portArgument(in);
    for (Method m : {kGetBitRate, kGetParity, kGetDataBits, kGetStopBits})
        call.config.methods[m].value = smallInt(in);
    call.config.methods[kGetHandshake].value = in.byte() < 0xF0 ? in.byte() : in.int32();
    const Expect e = expectConfigure(call);
    Frame frame(call.faults, &call.config);
    check("SerConfigure", CALL(SerConfigure, frame, call.present ? frame.config() : nullptr),
          frame.finish(), e);
    if (call.config.calls != e.calls) finding("SerConfigure", "SerialConfig methods called");
}

void callClose(Input& in) {
    const jint slot = slotArgument(in);
    Frame frame;
    check("SerClosePort", CALL(SerClosePort, frame, slot), frame.finish(),
          {heldBy(slot) == kFree ? -1 : 0});
    if (inTable(slot)) model.held[slot] = kFree;
}

void put(Input& in, bool block);
void putByte(Input& in) {
    put(in, false);
}
void putData(Input& in) {
    put(in, true);
}

void put(Input& in, bool block) {
    const jint slot = slotArgument(in);
    const int held = heldBy(slot);
    std::vector<jbyte> bytes(1, static_cast<jbyte>(in.byte()));
    const bool present = !block || arrayArgument(in, bytes);
    const jint count = block ? countArgument(in, static_cast<jint>(bytes.size())) : 1;
    const std::vector<jbyte> before = bytes;
    Frame frame;
    const jint result =
        block ? CALL(SerPutData, frame, slot, frame.array(present ? &bytes : nullptr), count)
              : CALL(SerPutByte, frame, slot, bytes[0]);
    const char* method = block ? "SerPutData" : "SerPutByte";
    const bool refused = !present || count < 0 || count > static_cast<jint>(bytes.size());
    if (held == kFree || refused)
        check(method, result, frame.finish(), {-1});
    else if (count == 0)
        check(method, result, frame.finish(), {0});
    else
        checkRange(method, result, -1, block ? std::min(count, kChunk) : 0, frame.finish());
    if (bytes != before) finding(method, "changed the array it sends");
    if (isPty(held) && result >= 0) ptys[held].toPeer.add(bytes.data(), block ? result : 1);
}

// Whether a receive on the slot may wait now, within what the input may still wait in all.
bool mayWait(jint slot) {
    if (!isPty(heldBy(slot)) || model.rxTimeout[slot] <= 0) return true;
    if (model.waitBudget < model.rxTimeout[slot]) return false;
    model.waitBudget -= model.rxTimeout[slot];
    return true;
}

void getByte(Input& in) {
    const jint slot = slotArgument(in);
    if (!mayWait(slot)) return;
    Frame frame;
    const jint result = CALL(SerGetByte, frame, slot);
    if (heldBy(slot) == kFree)
        check("SerGetByte", result, frame.finish(), {-1});
    else
        checkRange("SerGetByte", result, -1, 255, frame.finish());
    const char byte = static_cast<char>(result);
    if (isPty(heldBy(slot)) && result >= 0)
        ptys[heldBy(slot)].fromPeer.take(&byte, 1, "SerGetByte");
}

void getData(Input& in) {
    const jint slot = slotArgument(in);
    std::vector<jbyte> bytes;
    const bool present = arrayArgument(in, bytes);
    const jint count = countArgument(in, static_cast<jint>(bytes.size()));
    if (!mayWait(slot)) return;
    const std::vector<jbyte> before = bytes;
    Frame frame;
    const jint result =
        CALL(SerGetData, frame, slot, frame.array(present ? &bytes : nullptr), count);
    const Pending& pending = frame.finish();
    if (heldBy(slot) == kFree || !present || count < 1 || count > static_cast<jint>(bytes.size()))
        check("SerGetData", result, pending, {-1});
    else
        checkRange("SerGetData", result, -1, std::min(count, kChunk), pending);
    const auto got = static_cast<std::size_t>(std::max(result, 0));
    if (!std::equal(bytes.begin() + got, bytes.end(), before.begin() + got))
        finding("SerGetData", "changed array elements past the bytes it returned");
    if (isPty(heldBy(slot))) ptys[heldBy(slot)].fromPeer.take(bytes.data(), got, "SerGetData");
}

// The per-port calls that take the slot alone.
enum class Answer {
    kDone,   // 0 on a pty, -1 on a free slot or a file: the call needs a terminal
    kCount,  // 0 or more; 0 on a free slot
    kLine,   // 0 or 1; 0 on a free slot
};
struct PortCall {
    const char* name;
    jint (*native)(JNIEnv*, jobject, jint);
    Answer answer;
};
constexpr PortCall kPortCalls[] = {
    {"SerRxFlush", Java_Quorvia_SerialPortLocal_SerRxFlush, Answer::kDone},
    {"SerTxFlush", Java_Quorvia_SerialPortLocal_SerTxFlush, Answer::kDone},
    {"SerTxDrain", Java_Quorvia_SerialPortLocal_SerTxDrain, Answer::kDone},
    {"SerRxReadyCount", Java_Quorvia_SerialPortLocal_SerRxReadyCount, Answer::kCount},
    {"SerTxBufCount", Java_Quorvia_SerialPortLocal_SerTxBufCount, Answer::kCount},
    {"SerSigCTS", Java_Quorvia_SerialPortLocal_SerSigCTS, Answer::kLine},
    {"SerSigDSR", Java_Quorvia_SerialPortLocal_SerSigDSR, Answer::kLine},
    {"SerSigCD", Java_Quorvia_SerialPortLocal_SerSigCD, Answer::kLine},
    {"SerSigRing", Java_Quorvia_SerialPortLocal_SerSigRing, Answer::kLine},
};

void portCall(Input& in) {
    const std::uint8_t which = in.byte() % (std::size(kPortCalls) + 3);
    const jint slot = slotArgument(in);
    const int held = heldBy(slot);
    Frame frame;
    if (which < std::size(kPortCalls)) {
        const PortCall& call = kPortCalls[which];
        const jint result = call.native(frame.env, frame.self, slot);
        const Pending& pending = frame.finish();
        if (call.answer == Answer::kDone)
            check(call.name, result, pending, {isPty(held) ? 0 : -1});
        else if (held == kFree)
            check(call.name, result, pending, {0});
        else
            checkRange(call.name, result, 0, call.answer == Answer::kLine ? 1 : INT_MAX, pending);
    } else if (which == std::size(kPortCalls)) {
        // A pty sends no break but takes the request at once, whatever the duration.
        const jint result = CALL(SerSendBreak, frame, slot, in.int32());
        check("SerSendBreak", result, frame.finish(), {isPty(held) ? 0 : -1});
    } else {
        const bool dtr = which == std::size(kPortCalls) + 1;
        const jboolean level = in.byte();
        const jint result =
            dtr ? CALL(SerSetDTR, frame, slot, level) : CALL(SerSetRTS, frame, slot, level);
        const char* name = dtr ? "SerSetDTR" : "SerSetRTS";
        if (held == kFree)
            check(name, result, frame.finish(), {-1});
        else
            checkRange(name, result, -1, 0, frame.finish());
    }
}

void timeouts(Input& in) {
    const std::uint8_t which = in.byte() % 4;
    const jint slot = slotArgument(in);
    const Faults faults = faultsArgument(in);
    Frame frame(faults);
    if (which == 0) {
        const jint ms = timeoutArgument(in);
        check("SerSetTimeoutRx", CALL(SerSetTimeoutRx, frame, slot, ms), frame.finish(),
              {inTable(slot) ? 1 : -1});
        if (inTable(slot)) model.rxTimeout[slot] = ms;
    } else if (which == 1) {
        // Stored and reported only, never waited on: any value.
        const jint ms = in.int32();
        check("SerSetTimeoutTx", CALL(SerSetTimeoutTx, frame, slot, ms), frame.finish(),
              {inTable(slot) ? 1 : -1});
        if (inTable(slot)) model.txTimeout[slot] = ms;
    } else {
        const bool rx = which == 2;
        const jint result =
            rx ? CALL(SerGetTimeoutRx, frame, slot) : CALL(SerGetTimeoutTx, frame, slot);
        const jint stored = !inTable(slot) ? 0 : rx ? model.rxTimeout[slot] : model.txTimeout[slot];
        const Expect notOpen = throws(stored, faults, "Port not open");
        check(rx ? "SerGetTimeoutRx" : "SerGetTimeoutTx", result, frame.finish(),
              heldBy(slot) == kFree ? notOpen : Expect{stored});
    }
}

void power(Input& in) {
    const bool set = in.byte() & 1;
    const std::uint8_t b = in.byte();
    const jint cardSlot = b % 3 == 0 ? in.int32() : b % 3 == 1 ? -1 : b / 3 % 10;
    const std::uint8_t m = in.byte();
    const jint mode = m % 4 == 3 ? in.int32() : m % 4;
    const Faults faults = faultsArgument(in);
    const char* method = set ? "SerSetPowerMode" : "SerGetPowerMode";
    Frame frame(faults);
    const jint result =
        set ? CALL(SerSetPowerMode, frame, cardSlot, mode) : CALL(SerGetPowerMode, frame, cardSlot);
    const Pending& pending = frame.finish();
    if (set && mode != 0 && mode != 1) return check(method, result, pending, {5000});
    if (faults.ioExceptionMissing) return check(method, result, pending, {5001, kNoClassDef});
    if (cardSlot < 0 || cardSlot > 8)
        return check(method, result, pending, throws(5001, faults, "Invalid slot number"));
    // No card here: either no driver is listed, or the node cannot be made (mknod refuses).
    const bool noDriver = pending.message == "PCMCIA device lookup failed";
    check(method, result, pending,
          throws(5001, faults, noDriver ? pending.message.c_str() : "Failed to open card socket"));
}

void misc(Input& in) {
    const std::uint8_t which = in.byte() % 4;
    const Faults faults = faultsArgument(in);
    Frame frame(faults);
    if (which == 0) {
        check("SerGetLibVer", CALL(SerGetLibVer, frame), frame.finish(), {0x40007});
    } else if (which == 1) {
        const jint result = CALL(SerGetStatusAPM, frame);
        const Pending& pending = frame.finish();
        if (!apmPresent || pending.any)
            check("SerGetStatusAPM", result, pending,
                  throws(-1, faults, "Failed to get APM status"));
    } else if (which == 2) {
        const jboolean clear = in.byte();
        check("SerGetResumeState", CALL(SerGetResumeState, frame, clear), frame.finish(),
              {model.resumed ? 1 : 0});
        if (clear == JNI_TRUE) model.resumed = false;
    } else {
        frame.finish();
        ::raise(SIGCONT);  // what a stop and continue of the process delivers
        model.resumed = true;
    }
}

// The far end of a pty: sends bytes to the library, or reads what it sent.
void peer(Input& in) {
    const std::uint8_t b = in.byte();
    Pty& pty = ptys[b / 2 % kPtys];
    if (b % 2 == 0) {
        const std::size_t length = std::min<std::size_t>(in.byte(), model.peerBudget);
        std::string bytes(length, '\0');
        for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(b + 13 * i);
        const ssize_t sent = write(pty.master, bytes.data(), length);
        if (sent > 0) pty.fromPeer.add(bytes.data(), static_cast<std::size_t>(sent));
        model.peerBudget -= length;
    } else {
        char bytes[4096];
        const ssize_t got = read(pty.master, bytes, sizeof bytes);
        if (got > 0) pty.toPeer.take(bytes, static_cast<std::size_t>(got), "the far end");
    }
}

// The library's table must hold a descriptor exactly where the model has a taken slot.
void checkTable() {
    for (int slot = 0; slot < kSlots; ++slot)
        if ((pellusk::portDescriptor(slot) != pellusk::kNoDescriptor) !=
            (model.held[slot] != kFree))
            finding("port table", "slot " + std::to_string(slot) + " differs from the model");
}

// Closes what the input opened and puts back every state it changed, so inputs are independent.
void finishInput() {
    for (int slot = 0; slot < kSlots; ++slot) {
        if (model.held[slot] != kFree) {
            Frame frame;
            check("SerClosePort", CALL(SerClosePort, frame, slot), frame.finish(), {0});
            model.held[slot] = kFree;
        }
        pellusk::setReceiveTimeout(slot, 0);
        pellusk::setTransmitTimeout(slot, 0);
        model.rxTimeout[slot] = model.txTimeout[slot] = 0;
    }
    checkTable();
    pellusk::readResumeState(true);
    model.resumed = false;
    for (Pty& pty : ptys) {
        makeRaw(pty.slave);
        tcflow(pty.slave, TCOON);
        tcflush(pty.slave, TCIOFLUSH);
        tcflush(pty.master, TCIOFLUSH);
        pty.toPeer.clear();
        pty.fromPeer.clear();
    }
    truncate((scratch + "/file").c_str(), 0);
    resetJvm();
    if (portDescriptors() != descriptorsAtStart) finding("fuzz target", "descriptors leaked");
}

void removeScratch() {
    for (int slot = 0; slot < kSlots; ++slot)
        unlink((scratch + "/tty" + std::to_string(slot)).c_str());
    unlink((scratch + "/file").c_str());
    rmdir((scratch + "/dir").c_str());
    rmdir(scratch.c_str());
}

}  // namespace

// The receive wait: always on an open port's descriptor, never longer than the fuzzer allows.
extern "C" int __real_poll(pollfd* fds, nfds_t count, int timeoutMs);
extern "C" int __wrap_poll(pollfd* fds, nfds_t count, int timeoutMs) {
    for (nfds_t i = 0; i < count; ++i)
        if (fds[i].fd < 0) finding("poll", "waits on a free slot");
    if (timeoutMs < 0 || timeoutMs > kMaxTimeoutMs)
        finding("poll", "waits longer than the timeout");
    return __real_poll(fds, count, timeoutMs);
}

extern "C" int __wrap_mknod(const char*, mode_t, dev_t) {
    errno = EPERM;
    return -1;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    for (int slot = 0; slot < kSlots; ++slot) model.held[slot] = kFree;
    char folder[] = "/tmp/pellusk-jni-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr) finding("fuzz target", "no scratch folder");
    scratch = folder;
    for (Pty& pty : ptys) {
        pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        char name[128];
        if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 ||
            ptsname_r(pty.master, name, sizeof name) != 0)
            finding("fuzz target", "no pty");
        pty.path = name;
        pty.slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
        struct stat st;
        fstat(pty.slave, &st);
        pty.device = st.st_rdev;
        makeRaw(pty.slave);
    }
    for (int slot = 0; slot < kSlots; ++slot)
        symlink(ptys[slot % kPtys].path.c_str(), (scratch + "/tty" + std::to_string(slot)).c_str());
    ::close(::open((scratch + "/file").c_str(), O_CREAT | O_WRONLY, 0600));
    mkdir((scratch + "/dir").c_str(), 0700);
    atexit(removeScratch);
    apmPresent = access("/proc/apm", R_OK) == 0;
    // Installed from the start rather than by the first open that succeeds, so that a SIGCONT
    // is recorded the same way in every input.
    pellusk::installContinueHandler();
    descriptorsAtStart = portDescriptors();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    model.waitBudget = kWaitBudgetMs;
    model.peerBudget = kPeerBytesPerInput;
    while (!in.empty()) {
        static constexpr void (*kCalls[])(Input&) = {
            callOpen, callOpen, callClose, callConfigure, putByte, putData, getByte,
            getData,  portCall, timeouts,  power,         misc,    peer};
        kCalls[in.byte() % std::size(kCalls)](in);
        checkTable();
    }
    for (Pty& pty : ptys) {
        char bytes[4096];
        for (ssize_t got; (got = read(pty.master, bytes, sizeof bytes)) > 0;)
            pty.toPeer.take(bytes, static_cast<std::size_t>(got), "the far end");
    }
    finishInput();
    return 0;
}
