# Third-party packages. Everything comes from the distribution (see scripts/setup).
find_package(Threads REQUIRED)

if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(ODBC REQUIRED IMPORTED_TARGET odbc)
  pkg_check_modules(ODBCINST REQUIRED IMPORTED_TARGET odbcinst)
  pkg_check_modules(INIH REQUIRED IMPORTED_TARGET inih)
  # Case folding for every letter (the Windows build uses the system's own).
  pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc)
  # iconv is part of glibc on Linux; nothing to link.
  # The same packages' static archives, for db_setup_cli (src/cli).
  find_library(DB_SETUP_ICUUC_ARCHIVE NAMES libicuuc.a HINTS ${ICU_LIBDIR} ${ICU_LIBRARY_DIRS})
  find_library(DB_SETUP_INIH_ARCHIVE NAMES libinih.a HINTS ${INIH_LIBDIR} ${INIH_LIBRARY_DIRS})
endif()

if(DB_SETUP_BUILD_GUI AND NOT WIN32)
  # moc and rcc run only for the window library (src/window), which needs them.
  # (On Windows the window is built with the platform's own controls.)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
endif()

if(DB_SETUP_BUILD_TESTS)
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    # No GoogleTest binaries for the target: build Debian's googletest sources
    # with the cross compiler.
    set(DB_SETUP_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${DB_SETUP_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    foreach(lib gtest gtest_main gmock gmock_main)
      if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
      endif()
    endforeach()
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()
