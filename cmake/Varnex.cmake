# Helpers shared by every folder: one static library per folder, one test executable per tests/ folder.
include_guard(GLOBAL)

# varnex_library(<name> [QT] [DEPS ...])
# Collects the folder's sources; the folder itself is the include root for its own headers, and
# dependents include our headers as "<folder>/<file>.h" from the source root.
function(varnex_library name)
    cmake_parse_arguments(ARG "" "" "DEPS;PUBLIC_DEPS;EXTRA_SOURCES" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
        ${CMAKE_CURRENT_SOURCE_DIR}/*.ui)
    list(FILTER sources INCLUDE REGEX "\\.cpp$")
    if(NOT sources)
        # A folder still being written: nothing to build yet.
        return()
    endif()
    file(GLOB sources CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
        ${CMAKE_CURRENT_SOURCE_DIR}/*.ui)
    add_library(${name} STATIC ${sources} ${ARG_EXTRA_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE varnex_warnings ${ARG_DEPS} PUBLIC ${ARG_PUBLIC_DEPS})
endfunction()

# varnex_test(<name> DEPS ...) builds every *.cpp of the current tests/ folder into one GoogleTest
# executable and registers its tests with CTest.
function(varnex_test name)
    cmake_parse_arguments(ARG "" "" "DEPS;ENVIRONMENT" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    if(NOT sources)
        return()
    endif()
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE varnex_warnings ${ARG_DEPS} GTest::gtest GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE
        VARNEX_SHARED_DATA_DIR="${VARNEX_SHARED_DATA_DIR}"
        VARNEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        VARNEX_BINARY_DIR="${PROJECT_BINARY_DIR}")
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${ARG_ENVIRONMENT}")
endfunction()
