# Host-side C++ tests run under AddressSanitizer and UndefinedBehaviorSanitizer, so a read or
# write outside a table or buffer fails the test that caused it. Set TARVIO_SANITIZE=OFF to
# build them plain (for example to step through them in a debugger).
option(TARVIO_SANITIZE "Build host C++ tests with ASan and UBSan" ON)

function(tarvio_sanitize target)
  if(TARVIO_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all
                                             -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# ThreadSanitizer cannot share a program with AddressSanitizer, so the thread tests have their
# own build of the sources they exercise. Any report fails the test that caused it. Apart from the
# other sanitizers: without it the thread tests lose their point (the mutation runs keep it).
option(TARVIO_THREAD_SANITIZE "Build the thread tests with TSan" ${TARVIO_SANITIZE})
function(tarvio_thread_sanitize target)
  if(TARVIO_THREAD_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=thread)
  endif()
endfunction()
