# Compiler settings shared by every target of the project.

# Warnings stop our presets and CI; a user's own configure with another compiler version must
# still build, so it is off unless asked for.
option(OVRA_WARNINGS_AS_ERRORS "Treat compiler warnings as errors (on in every preset)" OFF)

if(MSVC)
    add_compile_options(/W4 /utf-8 /EHsc)
    if(OVRA_WARNINGS_AS_ERRORS)
        add_compile_options(/WX)
    endif()
else()
    add_compile_options(-Wall -Wextra)
    if(OVRA_WARNINGS_AS_ERRORS)
        add_compile_options(-Werror)
    endif()
endif()

if(WIN32)
    # Unicode Win32 API, no min/max macros, Windows 7 API level (SetDynamicTimeZoneInformation, ...).
    add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
endif()

if(OVRA_FUZZ)
    # Coverage for libFuzzer everywhere; the fuzz targets add the fuzzer's main when they link.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
elseif(OVRA_SANITIZE AND NOT WIN32)
    add_compile_options(-fsanitize=${OVRA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${OVRA_SANITIZE})
    if(OVRA_SANITIZE MATCHES thread AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        # g++ warns that ThreadSanitizer cannot see the fences in Boost.Asio's headers; the
        # programs that use Asio run its handlers on one thread.
        add_compile_options(-Wno-tsan)
    endif()
endif()

if(CMAKE_CROSSCOMPILING AND WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Ship the MinGW runtime DLLs beside our binaries: one shared C++ runtime in the process, as a
    # host would deploy it, and Wine finds them in the executable's folder.
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                        OUTPUT_VARIABLE dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT EXISTS "${dll_path}")
            # winpthread sits in the sysroot, not in the compiler's own folder.
            find_file(dll_path_found ${dll} PATHS /usr/x86_64-w64-mingw32/lib /usr/x86_64-w64-mingw32/bin
                      NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
            set(dll_path ${dll_path_found})
            unset(dll_path_found CACHE)
        endif()
        if(EXISTS "${dll_path}")
            file(COPY ${dll_path} DESTINATION ${CMAKE_BINARY_DIR}/bin)
            list(APPEND OVRA_RUNTIME_DLLS ${CMAKE_BINARY_DIR}/bin/${dll})
        else()
            message(FATAL_ERROR "MinGW runtime ${dll} not found")
        endif()
    endforeach()
endif()

# ovra_add_test(NAME SOURCES ... LIBS ...): one test executable, run as one process (one Wine start
# per binary in the Windows build).
function(ovra_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} ovra_test_main)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
