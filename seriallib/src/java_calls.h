// The export layer's calls into Java: the IOException it throws and the calls it makes on a
// SerialConfig object.
#pragma once

#include <jni.h>

#include <cstddef>

#include "trace.h"

namespace pellusk {

inline constexpr const char* kIOException = "java/io/IOException";

namespace message {
inline constexpr const char* kBadPortName = "Port device name not valid";
inline constexpr const char* kPortNotOpen = "Port not open";
inline constexpr const char* kInvalidSlot = "Invalid slot number";
inline constexpr const char* kLookupFailed = "PCMCIA device lookup failed";
inline constexpr const char* kOpenSocketFailed = "Failed to open card socket";
inline constexpr const char* kSuspendFailed = "Failed to suspend card";
inline constexpr const char* kResumeFailed = "Failed to resume card";
inline constexpr const char* kStatusFailed = "Failed to get card status";
inline constexpr const char* kApmFailed = "Failed to get APM status";
}  // namespace message

// Resolves java.io.IOException in the calling native method and records it in ioEx. A class
// reference kept from an earlier call is a dead local reference, so it is never reused.
// Null, with FindClass's error pending, when the class cannot be resolved.
jclass resolveIOException(JNIEnv* env);

// Whether java.io.IOException can be resolved (and so thrown later in the call); false with
// FindClass's error pending.
bool ioExceptionResolves(JNIEnv* env);

// Throws java.io.IOException with the message; where the class cannot be resolved, FindClass's
// own error is pending instead. Either way the caller returns with an error pending.
void throwIOException(JNIEnv* env, const char* message);

// A SerialConfig object as the library sees it. Every call checks for a pending Java error,
// so a class that breaks its contract surfaces as that error instead of crashing the JVM.
class SerialConfigCalls {
  public:
    // With a traced call, each value that Java gives or is given is noted on its line.
    SerialConfigCalls(JNIEnv* env, jobject config, trace::Call* trace = nullptr);

    // False once any lookup or call has left a Java error pending.
    bool ok() const { return ok_; }

    // The int result of a "()I" method; 0 after a failure (ok() then says so).
    jint getInt(const char* method);
    // Copies the bytes of a "()[B" method into `out` (capacity `size`), ending them with a zero
    // byte. Returns the array length, or -1 when the array is null or does not fit with its
    // terminator; nothing is written past `size` in either case.
    int getBytes(const char* method, char* out, std::size_t size);
    void setPortNum(jint portNumber);

  private:
    jmethodID method(const char* name, const char* signature);
    bool check();

    JNIEnv* env_;
    jobject config_;
    trace::Call* trace_;
    jclass class_ = nullptr;
    bool ok_ = false;
};

}  // namespace pellusk
