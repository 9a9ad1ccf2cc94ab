# Third-party code for the Windows cross-build, built from source: TinyXML from Debian's
# source package (fetched into the build folder by scripts/bootstrap-windows) and built here,
# libsodium from its Debian source package (built by scripts/bootstrap-windows, linked
# here), and GoogleTest from Debian's googletest package. Nothing of it lives in the
# repository.
set(QEV_THIRD_PARTY_DIR ${CMAKE_BINARY_DIR}/third-party CACHE PATH
    "Where scripts/bootstrap-windows put the third-party sources")
set(tinyxml_dir ${QEV_THIRD_PARTY_DIR}/tinyxml)
if(NOT EXISTS ${tinyxml_dir}/tinyxml.h)
  message(FATAL_ERROR "TinyXML sources missing: run scripts/bootstrap-windows ${CMAKE_BINARY_DIR}")
endif()
add_library(qev_tinyxml STATIC ${tinyxml_dir}/tinyxml.cpp ${tinyxml_dir}/tinystr.cpp
            ${tinyxml_dir}/tinyxmlerror.cpp ${tinyxml_dir}/tinyxmlparser.cpp)
target_include_directories(qev_tinyxml SYSTEM PUBLIC ${tinyxml_dir})
target_compile_definitions(qev_tinyxml PUBLIC TIXML_USE_STL)
target_compile_options(qev_tinyxml PRIVATE -w) # not our code: its warnings are not ours to fix

set(sodium_dir ${QEV_THIRD_PARTY_DIR}/libsodium-win)
if(NOT EXISTS ${sodium_dir}/lib/libsodium.a)
  message(FATAL_ERROR "libsodium missing: run scripts/bootstrap-windows ${CMAKE_BINARY_DIR}")
endif()
add_library(qev_sodium STATIC IMPORTED)
set_target_properties(qev_sodium PROPERTIES IMPORTED_LOCATION ${sodium_dir}/lib/libsodium.a)
target_include_directories(qev_sodium SYSTEM INTERFACE ${sodium_dir}/include)
# The static library's declarations must not ask for DLL imports.
target_compile_definitions(qev_sodium INTERFACE SODIUM_STATIC)

set(QEV_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (googletest package)")
if(NOT EXISTS ${QEV_GOOGLETEST_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources missing: run scripts/bootstrap-windows")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QEV_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# It names its targets GTest::gtest and GTest::gtest_main itself.
