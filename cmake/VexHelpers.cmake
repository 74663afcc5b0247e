# Small helpers shared by every folder's CMakeLists.txt.

# Adds every immediate sub-folder that has a CMakeLists.txt, in name order, so a new
# folder joins the build without editing its parent.
function(vex_add_subdirectories)
    file(GLOB children LIST_DIRECTORIES true CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
         ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    foreach(child ${children})
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
           AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()

# vex_add_gtest(NAME n SOURCES ... [LIBS ...] [DEPENDS ...] [LABELS ...] [TIMEOUT s])
# One GoogleTest executable in build/bin, run by CTest headless (offscreen Qt platform), with
# the device library folder of the user's environment cleared (empty means none).
function(vex_add_gtest)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;DEPENDS;LABELS" ${ARGN})
    if(VEX_FUZZ)
        return()
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
    if(T_DEPENDS)
        add_dependencies(${T_NAME} ${T_DEPENDS})
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    set_tests_properties(${T_NAME} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VEX_SOURCE_DIR=${PROJECT_SOURCE_DIR};VEX_BIN_DIR=${CMAKE_BINARY_DIR}/bin;VEX_DEVICE_LIBRARY_DIR=")
endfunction()

# vex_add_bench(NAME n SOURCES ... [LIBS ...]): a Google Benchmark program run by `make bench`.
function(vex_add_bench)
    cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
    if(VEX_FUZZ OR NOT benchmark_FOUND)
        return()
    endif()
    add_executable(${B_NAME} ${B_SOURCES})
    target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
    target_include_directories(${B_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
    set_property(GLOBAL APPEND PROPERTY VEX_BENCHMARKS ${B_NAME})
endfunction()

# vex_add_fuzz(NAME n SOURCES ... [LIBS ...]): a libFuzzer target exposing
# LLVMFuzzerTestOneInput. With VEX_FUZZ it becomes a fuzzer; otherwise a replay
# program that runs every file of fuzz/corpus/<n>/ once, registered with CTest, so the
# regression corpus is checked by every `make test`.
function(vex_add_fuzz)
    cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
    if(VEX_FUZZ)
        add_executable(${F_NAME} ${F_SOURCES})
        target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    else()
        add_executable(${F_NAME} ${F_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/ReplayMain.cpp)
        add_test(NAME ${F_NAME}_corpus
                 COMMAND ${F_NAME} ${PROJECT_SOURCE_DIR}/fuzz/corpus/${F_NAME})
        set_tests_properties(${F_NAME}_corpus PROPERTIES TIMEOUT 300
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    endif()
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} Threads::Threads)
    target_include_directories(${F_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
    set_property(GLOBAL APPEND PROPERTY VEX_FUZZERS ${F_NAME})
endfunction()
