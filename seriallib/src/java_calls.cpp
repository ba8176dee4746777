#include "java_calls.h"

#include <atomic>

#include "legacy_exports.h"

namespace pellusk {

jclass resolveIOException(JNIEnv* env) {
    jclass cls = env->FindClass(kIOException);
    std::atomic_ref<jclass>(ioEx).store(cls, std::memory_order_relaxed);
    return cls;
}

bool ioExceptionResolves(JNIEnv* env) {
    jclass cls = resolveIOException(env);
    if (cls == nullptr) return false;
    env->DeleteLocalRef(cls);
    return true;
}

void throwIOException(JNIEnv* env, const char* message) {
    jclass cls = resolveIOException(env);
    if (cls == nullptr) return;
    env->ThrowNew(cls, message);
    env->DeleteLocalRef(cls);
}

SerialConfigCalls::SerialConfigCalls(JNIEnv* env, jobject config, trace::Call* trace)
    : env_(env), config_(config), trace_(trace) {
    class_ = env_->FindClass("Quorvia/SerialConfig");
    ok_ = class_ != nullptr && config_ != nullptr;
}

bool SerialConfigCalls::check() {
    if (env_->ExceptionCheck()) ok_ = false;
    return ok_;
}

jmethodID SerialConfigCalls::method(const char* name, const char* signature) {
    if (!ok_) return nullptr;
    jmethodID id = env_->GetMethodID(class_, name, signature);
    if (id == nullptr) ok_ = false;  // NoSuchMethodError is pending
    return id;
}

jint SerialConfigCalls::getInt(const char* name) {
    jmethodID id = method(name, "()I");
    if (id == nullptr) return 0;
    jint value = env_->CallIntMethod(config_, id);
    if (!check()) return 0;
    if (trace_ != nullptr) trace_->arg(name, value);
    return value;
}

int SerialConfigCalls::getBytes(const char* name, char* out, std::size_t size) {
    out[0] = '\0';
    jmethodID id = method(name, "()[B");
    if (id == nullptr) return -1;
    auto array = static_cast<jbyteArray>(env_->CallObjectMethod(config_, id));
    if (!check() || array == nullptr) return -1;
    jsize length = env_->GetArrayLength(array);
    int result = -1;
    if (static_cast<std::size_t>(length) < size) {
        env_->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(out));
        out[length] = '\0';
        result = length;
        if (trace_ != nullptr) trace_->text(name, out, length);
    }
    env_->DeleteLocalRef(array);
    return result;
}

void SerialConfigCalls::setPortNum(jint portNumber) {
    jmethodID id = method("setPortNum", "(I)V");
    if (id == nullptr) return;
    env_->CallVoidMethod(config_, id, portNumber);
    if (check() && trace_ != nullptr) trace_->arg("setPortNum", portNumber);
}

}  // namespace pellusk
