// The library-wide variables and plain functions that the library has always exported under
// these names, for the applications that read them. The library itself keeps their values
// current; nothing outside it may write them.
#pragma once

#include <cstdint>

#define PELLUSK_EXPORT extern "C" __attribute__((visibility("default")))

// The port table's size, which the exported arrays carry.
namespace pellusk {
inline constexpr int kPortSlots = 128;
}

// As jni.h names the class reference, without making every file that reads ioEx a JNI file.
class _jobject;
class _jclass;
typedef _jclass* jclass;
struct JNIEnv_;
typedef JNIEnv_ JNIEnv;

PELLUSK_EXPORT std::int32_t hSerPort[pellusk::kPortSlots];  // a slot's descriptor; -1 free
PELLUSK_EXPORT std::int32_t tmoRx[pellusk::kPortSlots];     // receive timeouts, ms
PELLUSK_EXPORT std::int32_t tmoTx[pellusk::kPortSlots];     // transmit timeouts, ms
PELLUSK_EXPORT std::int32_t firstTime;                      // 0 once a port was opened
PELLUSK_EXPORT jclass ioEx;                                 // the IOException class last resolved
PELLUSK_EXPORT std::int32_t bannerShown;                    // the banner was printed
PELLUSK_EXPORT std::int32_t gotContinueSignal;              // the resume flag
PELLUSK_EXPORT const std::int32_t verLib;                   // 4 in the high half, 7 in the low
PELLUSK_EXPORT const char* libVer;

PELLUSK_EXPORT void ShowBanner(JNIEnv* env);
PELLUSK_EXPORT void sigContinueHandler(int signalNumber);
PELLUSK_EXPORT int getSlotHandle(JNIEnv* env, int cardSlot);
