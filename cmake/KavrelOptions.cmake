# One INTERFACE target carries the include root, the warnings and the sanitizer flags; every
# target of the project links it, so the flags are set in exactly one place.
add_library(kavrel_options INTERFACE)
target_include_directories(kavrel_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(kavrel_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion)
if(KAVREL_WERROR)
    target_compile_options(kavrel_options INTERFACE -Werror)
endif()
if(KAVREL_SANITIZE)
    target_compile_options(kavrel_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(kavrel_options INTERFACE -fsanitize=address,undefined)
endif()

if(KAVREL_HARDEN)
    # What Debian's build flags add: checked string and memory functions, a read-only
    # relocation table bound at start.
    target_compile_definitions(kavrel_options INTERFACE _FORTIFY_SOURCE=2)
    target_compile_options(kavrel_options INTERFACE -fstack-protector-strong)
    target_link_options(kavrel_options INTERFACE -Wl,-z,relro -Wl,-z,now)
endif()

if(KAVREL_FUZZ)
    # Coverage instrumentation for the libraries the fuzzers link; the fuzzers add the driver.
    target_compile_options(kavrel_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# Adds every sub-folder of the current folder that has a CMakeLists.txt (tests/, bench/, fuzz/
# hold one folder per library).
function(kavrel_add_subfolders)
    file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    foreach(child ${children})
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
           AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()
