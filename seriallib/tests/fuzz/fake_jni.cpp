#include "fake_jni.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <utility>

namespace fuzz {

void finding(const std::string& where, const std::string& what) {
    std::fprintf(stderr, "\n==== JNI fuzz finding in %s: %s\n", where.c_str(), what.c_str());
    std::abort();
}

namespace {

struct Object {
    enum Kind { kClass, kArray, kConfig, kSelf } kind;
    std::string name;  // of a class
    std::vector<jbyte>* bytes = nullptr;
    Config* config = nullptr;
};

struct Ref {
    Object* object;
    bool live;
    bool local;  // made by a JNI function, so it counts against the frame's capacity
};

struct MethodInfo {
    const char* name;
    const char* signature;
    char returns;  // 'I', 'L' or 'V': the Call<Type>Method it must be called through
};
constexpr MethodInfo kContract[kMethodCount] = {
    {"getPortName", "()[B", 'L'}, {"getPort", "()I", 'I'},     {"getBaseName", "()[B", 'L'},
    {"setPortNum", "(I)V", 'V'},  {"getBitRate", "()I", 'I'},  {"getParity", "()I", 'I'},
    {"getDataBits", "()I", 'I'},  {"getStopBits", "()I", 'I'}, {"getHandshake", "()I", 'I'},
};

constexpr int kLocalCapacity = 16;

struct State {
    JNINativeInterface_ table{};
    JNIEnv env{};
    Object ioExceptionClass{Object::kClass, kIOException};
    Object configClass{Object::kClass, "Quorvia/SerialConfig"};
    Object selfObject{Object::kSelf, "Quorvia/SerialPortLocal"};
    // Kept until the input ends, so a reference used after its call is reported as stale
    // rather than read from freed memory.
    std::deque<Ref> refs;
    std::deque<Object> objects;
    std::size_t frameStart = 0;
    bool inCall = false;
    int locals = 0;
    Pending pending;
    Faults faults;
    Config* config = nullptr;
} state;

void raise(const std::string& className, const std::string& message) {
    state.pending = {true, className, message};
}

// The rule of real JNI: with an exception pending, only the few clean-up calls are allowed.
void mayCall(const char* function) {
    if (!state.inCall) finding(function, "called outside a native call");
    if (state.pending.any) finding(function, "called with " + state.pending.className + " pending");
}

jobject newRef(Object* object, bool local) {
    if (local && ++state.locals > kLocalCapacity)
        finding("local references", "more than 16 alive in one native call");
    state.refs.push_back({object, true, local});
    return reinterpret_cast<jobject>(&state.refs.back());
}

Ref* liveRef(jobject ref, const char* function) {
    if (ref == nullptr) finding(function, "null reference");
    Ref* r = reinterpret_cast<Ref*>(ref);
    if (!r->live) finding(function, "reference deleted, or kept from an earlier native call");
    return r;
}

Object* object(jobject ref, Object::Kind kind, const char* function) {
    Object* o = liveRef(ref, function)->object;
    if (o->kind != kind) finding(function, "reference to an object of the wrong kind");
    return o;
}

jclass JNICALL findClass(JNIEnv*, const char* name) {
    mayCall("FindClass");
    Object* cls = nullptr;
    bool missing = false;
    if (std::strcmp(name, kIOException) == 0) {
        cls = &state.ioExceptionClass;
        missing = state.faults.ioExceptionMissing;
    } else if (std::strcmp(name, "Quorvia/SerialConfig") == 0) {
        cls = &state.configClass;
        missing = state.faults.configClassMissing;
    } else {
        finding("FindClass", std::string("no class of the library's: ") + name);
    }
    if (missing) {
        raise(kNoClassDef, name);
        return nullptr;
    }
    return static_cast<jclass>(newRef(cls, true));
}

jint JNICALL throwNew(JNIEnv*, jclass cls, const char* message) {
    mayCall("ThrowNew");
    Object* o = object(cls, Object::kClass, "ThrowNew");
    if (o != &state.ioExceptionClass) finding("ThrowNew", "not a Throwable: " + o->name);
    raise(o->name, message != nullptr ? message : "");
    return 0;
}

jboolean JNICALL exceptionCheck(JNIEnv*) {
    if (!state.inCall) finding("ExceptionCheck", "called outside a native call");
    return state.pending.any ? JNI_TRUE : JNI_FALSE;
}

void JNICALL deleteLocalRef(JNIEnv*, jobject ref) {
    if (ref == nullptr) return;
    Ref* r = liveRef(ref, "DeleteLocalRef");
    r->live = false;
    if (r->local) --state.locals;
}

jmethodID JNICALL getMethodID(JNIEnv*, jclass cls, const char* name, const char* signature) {
    mayCall("GetMethodID");
    if (object(cls, Object::kClass, "GetMethodID") != &state.configClass)
        finding("GetMethodID", "a method of a class other than SerialConfig");
    for (int m = 0; m < kMethodCount; ++m) {
        if (std::strcmp(name, kContract[m].name) != 0) continue;
        if (std::strcmp(signature, kContract[m].signature) != 0) break;
        if (state.config != nullptr && state.config->methods[m].kind == Getter::kMissing) {
            raise(kNoSuchMethod, name);
            return nullptr;
        }
        return reinterpret_cast<jmethodID>(const_cast<MethodInfo*>(&kContract[m]));
    }
    finding("GetMethodID", std::string("not in the SerialConfig contract: ") + name + signature);
}

// The getter the library calls; an exception is pending afterwards when it throws.
Getter& call(jobject target, jmethodID id, char returns, const char* function) {
    mayCall(function);
    Config* config = object(target, Object::kConfig, function)->config;
    const auto* info = reinterpret_cast<const MethodInfo*>(id);
    if (info < kContract || info >= kContract + kMethodCount)
        finding(function, "not a method ID that GetMethodID gave");
    if (info->returns != returns)
        finding(function, std::string("wrong return type for ") + info->name);
    const auto method = static_cast<Method>(info - kContract);
    config->calls.push_back(method);
    Getter& getter = config->methods[method];
    if (getter.kind == Getter::kThrows) raise(kThrownByGetter, info->name);
    return getter;
}

jint JNICALL callIntMethodV(JNIEnv*, jobject target, jmethodID id, va_list) {
    const Getter& getter = call(target, id, 'I', "CallIntMethod");
    // What a thrown call returns is undefined: a value the library must not act on.
    return getter.kind == Getter::kThrows ? 0x5eed5eed : getter.value;
}

jobject JNICALL callObjectMethodV(JNIEnv*, jobject target, jmethodID id, va_list) {
    Getter& getter = call(target, id, 'L', "CallObjectMethod");
    if (getter.kind == Getter::kThrows || getter.nullArray) return nullptr;
    state.objects.push_back({Object::kArray, "", &getter.bytes});
    return newRef(&state.objects.back(), true);
}

void JNICALL callVoidMethodV(JNIEnv*, jobject target, jmethodID id, va_list args) {
    const Getter& getter = call(target, id, 'V', "CallVoidMethod");
    const jint value = va_arg(args, jint);
    Config* config = reinterpret_cast<Ref*>(target)->object->config;
    if (getter.kind != Getter::kThrows) config->reportedPort = value;
}

jsize JNICALL getArrayLength(JNIEnv*, jarray array) {
    mayCall("GetArrayLength");
    return static_cast<jsize>(object(array, Object::kArray, "GetArrayLength")->bytes->size());
}

// The region of the array, or null with ArrayIndexOutOfBoundsException pending.
jbyte* region(jbyteArray array, jsize start, jsize length, const void* buffer,
              const char* function) {
    mayCall(function);
    std::vector<jbyte>& bytes = *object(array, Object::kArray, function)->bytes;
    const auto size = static_cast<long long>(bytes.size());
    if (start < 0 || length < 0 || start + static_cast<long long>(length) > size) {
        raise(kOutOfBounds, function);
        return nullptr;
    }
    if (length > 0 && buffer == nullptr) finding(function, "null buffer");
    return bytes.data() + start;
}

void JNICALL getByteArrayRegion(JNIEnv*, jbyteArray array, jsize start, jsize length,
                                jbyte* buffer) {
    // memcpy, which AddressSanitizer checks over the whole of the library's buffer.
    if (jbyte* from = region(array, start, length, buffer, "GetByteArrayRegion"); from && length)
        std::memcpy(buffer, from, static_cast<std::size_t>(length));
}

void JNICALL setByteArrayRegion(JNIEnv*, jbyteArray array, jsize start, jsize length,
                                const jbyte* buffer) {
    if (jbyte* into = region(array, start, length, buffer, "SetByteArrayRegion"); into && length)
        std::memcpy(into, buffer, static_cast<std::size_t>(length));
}

// Every entry the library has no business calling names its index in JNINativeInterface_.
template <std::size_t Index>
void unexpectedEntry() {
    finding("JNI function table", "entry " + std::to_string(Index) + " is not modelled");
}

template <std::size_t... Index>
void fillUnexpected(void** entries, std::index_sequence<Index...>) {
    ((entries[Index] = reinterpret_cast<void*>(&unexpectedEntry<Index>)), ...);
}

bool tableBuilt = [] {
    fillUnexpected(reinterpret_cast<void**>(&state.table),
                   std::make_index_sequence<sizeof(JNINativeInterface_) / sizeof(void*)>());
    JNINativeInterface_& t = state.table;
    t.FindClass = findClass;
    t.ThrowNew = throwNew;
    t.ExceptionCheck = exceptionCheck;
    t.DeleteLocalRef = deleteLocalRef;
    t.GetMethodID = getMethodID;
    // The C++ members of JNIEnv reach the Call<Type>Method entries through their V forms.
    t.CallIntMethodV = callIntMethodV;
    t.CallObjectMethodV = callObjectMethodV;
    t.CallVoidMethodV = callVoidMethodV;
    t.GetArrayLength = getArrayLength;
    t.GetByteArrayRegion = getByteArrayRegion;
    t.SetByteArrayRegion = setByteArrayRegion;
    state.env.functions = &state.table;
    return true;
}();

}  // namespace

Frame::Frame(Faults faults, Config* config) : env(&state.env) {
    if (state.inCall) finding("fuzz target", "native calls nested");
    state.inCall = true;
    state.frameStart = state.refs.size();
    state.locals = 0;
    state.pending = {};
    state.faults = faults;
    state.config = config;
    self = newRef(&state.selfObject, false);
}

jobject Frame::config() {
    if (state.config == nullptr) return nullptr;
    state.objects.push_back({Object::kConfig, "", nullptr, state.config});
    return newRef(&state.objects.back(), false);
}

jbyteArray Frame::array(std::vector<jbyte>* bytes) {
    if (bytes == nullptr) return nullptr;
    state.objects.push_back({Object::kArray, "", bytes});
    return static_cast<jbyteArray>(newRef(&state.objects.back(), false));
}

const Pending& Frame::finish() {
    state.inCall = false;
    for (std::size_t i = state.frameStart; i < state.refs.size(); ++i) state.refs[i].live = false;
    return state.pending;
}

void resetJvm() {
    state.refs.clear();
    state.objects.clear();
}

}  // namespace fuzz
