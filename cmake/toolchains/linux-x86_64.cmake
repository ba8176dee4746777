# Native 64-bit Linux build: the x86_64 library for today's JVMs, the host-side
# unit tests, and the driver of the other two builds.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(PELLUSK_ARCH x86_64)
set(PELLUSK_JAVA_HOME /usr/lib/jvm/java-17-openjdk-amd64 CACHE PATH "JDK whose JVM loads this build")
