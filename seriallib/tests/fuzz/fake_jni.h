// A JNI environment of our own for the JNI fuzz target: a JNINativeInterface_ table with just the
// functions the library calls, each keeping the rules of a real JVM that the library relies on.
//
// What stops the run as a finding (real JNI would crash, or -Xcheck:jni would warn):
// - any other entry of the function table;
// - any call but ExceptionCheck and DeleteLocalRef while an exception is pending;
// - a null, deleted or stale reference (one kept from an earlier native call, such as ioEx);
// - more than 16 local references alive at once (all a frame has without EnsureLocalCapacity);
// - a class other than IOException and SerialConfig; a SerialConfig method outside its contract,
//   or called through the Call<Type>Method of another return type; ThrowNew of a non-Throwable.
// What is modelled, not flagged: Get/SetByteArrayRegion out of range leave an
// ArrayIndexOutOfBoundsException pending and copy nothing; a missing class or method leaves
// NoClassDefFoundError or NoSuchMethodError pending; a getter may throw. Whether the library then
// returns with an undocumented exception is for the caller of the native method to judge.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

namespace fuzz {

// Prints what went wrong and aborts, which libFuzzer reports as a crash with its input.
[[noreturn]] void finding(const std::string& where, const std::string& what);

inline constexpr const char* kIOException = "java/io/IOException";
inline constexpr const char* kNoClassDef = "java/lang/NoClassDefFoundError";
inline constexpr const char* kNoSuchMethod = "java/lang/NoSuchMethodError";
inline constexpr const char* kThrownByGetter = "java/lang/IllegalStateException";
inline constexpr const char* kOutOfBounds = "java/lang/ArrayIndexOutOfBoundsException";

// The nine methods of the SerialConfig contract.
enum Method {
    kGetPortName,
    kGetPort,
    kGetBaseName,
    kSetPortNum,
    kGetBitRate,
    kGetParity,
    kGetDataBits,
    kGetStopBits,
    kGetHandshake,
    kMethodCount
};

struct Getter {
    enum Kind { kReturns, kMissing, kThrows } kind = kReturns;
    jint value = 0;            // for ()I
    bool nullArray = false;    // for ()[B
    std::vector<jbyte> bytes;  // for ()[B
};

// One SerialConfig object: what each method does, and what the library did with it.
struct Config {
    Getter methods[kMethodCount];
    std::vector<Method> calls;  // in the order made
    jint reportedPort = 0;      // what setPortNum received
};

// What the JVM refuses during one native call.
struct Faults {
    bool configClassMissing = false;
    bool ioExceptionMissing = false;
};

struct Pending {
    bool any = false;
    std::string className, message;
};

// One native call: the references created here die when it finishes.
class Frame {
  public:
    explicit Frame(Faults faults = {}, Config* config = nullptr);
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    JNIEnv* env;
    jobject self;
    jobject config();                             // the object for the Config given
    jbyteArray array(std::vector<jbyte>* bytes);  // null for nullptr
    const Pending& finish();                      // returns what is left pending
};

// Forgets every reference and object, once the input is done.
void resetJvm();

}  // namespace fuzz
