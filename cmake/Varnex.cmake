# SPDX-License-Identifier: GPL-3.0-or-later
# Helpers shared by every folder: one static library per folder, one test executable per tests/ folder.
include_guard(GLOBAL)

# Our headers are included as "<folder>/<file>.h". Each library gets an include root of its own in the
# build tree that holds only its folder's headers, so a file sees the headers of the libraries it links
# and no others: an include across the layering fails to compile.
#
# varnex_include_root(<target> <folder> <scope> [HEADERS ...])
# Links every header of <folder> (or only HEADERS, named without the folder) into a fresh root and adds
# that root to <target>'s include path with <scope>.
function(varnex_include_root target folder scope)
    cmake_parse_arguments(ARG "" "" "HEADERS" ${ARGN})
    set(root ${CMAKE_BINARY_DIR}/include-roots/${target})
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root}/${folder})
    if(ARG_HEADERS)
        list(TRANSFORM ARG_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/${folder}/ OUTPUT_VARIABLE headers)
    else()
        file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
    endif()
    foreach(header IN LISTS headers)
        if(NOT EXISTS ${header})
            message(FATAL_ERROR "${target}: no header ${header}")
        endif()
        get_filename_component(file ${header} NAME)
        file(CREATE_LINK ${header} ${root}/${folder}/${file} SYMBOLIC)
    endforeach()
    target_include_directories(${target} ${scope} ${root})
endfunction()

# varnex_library(<name> [DEPS ...] [PUBLIC_DEPS ...] [EXTRA_SOURCES ...])
# Builds the folder's sources into a static library. DEPS are linked PRIVATE; PUBLIC_DEPS are the
# libraries whose headers the folder's own headers include, and so reach the folder's dependents too.
function(varnex_library name)
    cmake_parse_arguments(ARG "" "" "DEPS;PUBLIC_DEPS;EXTRA_SOURCES" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
        ${CMAKE_CURRENT_SOURCE_DIR}/*.ui)
    add_library(${name} STATIC ${sources} ${ARG_EXTRA_SOURCES})
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    varnex_include_root(${name} ${folder} PUBLIC)
    target_link_libraries(${name} PRIVATE varnex_warnings ${ARG_DEPS} PUBLIC ${ARG_PUBLIC_DEPS})
endfunction()

# varnex_interface(<name> <folder> HEADERS ...) names a narrower face of a library: only the headers
# listed, for libraries that pass them on in their own headers without opening the rest of the folder.
function(varnex_interface name folder)
    add_library(${name} INTERFACE)
    varnex_include_root(${name} ${folder} INTERFACE ${ARGN})
endfunction()

# varnex_program(<name> SOURCES ... [DEPS ...]) builds a program from files of the current folder,
# which see the folder's headers and those of the libraries in DEPS.
function(varnex_program name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE varnex_warnings ${ARG_DEPS})
endfunction()

# varnex_test(<name> DEPS ...) builds every *.cpp of the current tests/ folder into one GoogleTest
# executable and registers its tests with CTest. Tests see the headers of the libraries they link, their
# folder's helpers and the shared ones of tests/support ("support/<file>.h").
function(varnex_test name)
    cmake_parse_arguments(ARG "" "" "DEPS;ENVIRONMENT" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE varnex_warnings ${ARG_DEPS} varnex_test_support GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE
        VARNEX_SHARED_DATA_DIR="${VARNEX_SHARED_DATA_DIR}"
        VARNEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        VARNEX_BINARY_DIR="${PROJECT_BINARY_DIR}")
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${ARG_ENVIRONMENT}")
endfunction()
