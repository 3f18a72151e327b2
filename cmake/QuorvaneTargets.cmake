# Shared compile options and the helpers that declare one library per source folder
# and one GoogleTest executable per library.

add_library(quorvane_options INTERFACE)
target_compile_options(quorvane_options INTERFACE -Wall -Wextra -Wpedantic)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # g++ 12 warns falsely inside <stop_token> at -O1 and above.
    target_compile_options(quorvane_options INTERFACE -Wno-maybe-uninitialized)
endif()
if(QUORVANE_WARNINGS_AS_ERRORS)
    target_compile_options(quorvane_options INTERFACE -Werror)
endif()
if(QUORVANE_SANITIZE)
    set(sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        # clang 14 cannot compile coroutines with the function sanitizer.
        list(APPEND sanitizers -fno-sanitize=function)
    endif()
    target_compile_options(quorvane_options INTERFACE ${sanitizers})
    target_link_options(quorvane_options INTERFACE ${sanitizers})
endif()
if(QUORVANE_THREAD_SANITIZER)
    if(QUORVANE_SANITIZE)
        message(FATAL_ERROR "ThreadSanitizer cannot run with AddressSanitizer: choose one.")
    endif()
    # For the work handed to the worker thread. g++ 12 warns (-Wtsan) at every fence, which the
    # copy-on-write containers use; clang++ does not, so the tsan preset uses clang++.
    set(sanitizers -fsanitize=thread -fno-omit-frame-pointer)
    target_compile_options(quorvane_options INTERFACE ${sanitizers})
    target_link_options(quorvane_options INTERFACE ${sanitizers})
endif()

# quorvane_library(<target> [DEPENDS <targets>...]): a static library of every source in the
# calling folder, included by its path under Sources/.
function(quorvane_library target)
    cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/Sources)
    target_link_libraries(${target} PUBLIC quorvane_options ${ARG_DEPENDS})
endfunction()

# The exit status of a test program that ran nothing (every test skipped, or no cases, seeds or
# X server), which CTest shows as skipped rather than passed.
set(QUORVANE_SKIP_EXIT_CODE 77)

# quorvane_tests(<name> DEPENDS <targets>...): one GoogleTest executable of every source in the
# calling folder, registered with CTest under <name>.
function(quorvane_tests name)
    cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_executable(${name} ${sources})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/Tests)
    target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gmock quorvane_test_main)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE ${QUORVANE_SKIP_EXIT_CODE})
endfunction()

# quorvane_expect_skip(<name> <program> <arguments>...): a test that passes when the program,
# given nothing to run, reports the skip code instead of passing.
function(quorvane_expect_skip name program)
    if(TARGET ${program})
        set(program $<TARGET_FILE:${program}>)
    endif()
    add_test(NAME ${name}
        COMMAND sh -c "\"$0\" \"$@\"; status=$?; [ $status -eq ${QUORVANE_SKIP_EXIT_CODE} ] || { echo \"exit status $status instead of the skip code\"; exit 1; }"
            ${program} ${ARGN})
endfunction()
